// (stage stub: to be written)
#include "notation.h"

void BeamChords(const SBuildContext&) {}
