// (stage stub: to be written)
#include "notation.h"

void AssignStrings(const SBuildContext&) {}
