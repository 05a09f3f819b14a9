// (stage stub: to be written)
#include "notation.h"

void CompactSections(const SBuildContext&) {}
void FinishChords(const SBuildContext&) {}
