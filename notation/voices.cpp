// (stage stub: to be written)
#include "notation.h"

void AssignVoices(const SBuildContext&) {}
