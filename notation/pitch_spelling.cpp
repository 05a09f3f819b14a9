// (stage stub: to be written)
#include "notation.h"

void SpellPitches(const SBuildContext&) {}
void SortSectionNotes(const SBuildContext&) {}
