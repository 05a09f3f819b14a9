// (stage stub: to be written)
#include "notation.h"

void ChooseClefs(const SBuildContext&) {}
