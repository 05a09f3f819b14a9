// (stage stub: to be written)
#include "notation.h"

void ChooseStems(const SBuildContext&) {}
void DisplaceHeads(const SBuildContext&) {}
void OrderChordNotes(SChord*) {}
