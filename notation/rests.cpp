// (stage stub: to be written)
#include "notation.h"

void MeasureVoiceHeights(const SBuildContext&) {}
void CarryVoiceHeights(const SBuildContext&) {}
void FillRests(const SBuildContext&) {}
void ShareRests(const SBuildContext&) {}
void PlaceRests(const SBuildContext&) {}
void DotRests(const SBuildContext&) {}
