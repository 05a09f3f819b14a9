// Clef selection (stage H): the ledger-line measure it decides by.
#ifndef VASTREL_CLEFS_H
#define VASTREL_CLEFS_H

#include <stdint.h>

// Ledger lines that the notes from staff step nLow to nHigh need on a
// five-line staff with its lines on steps 2 to 10: the larger of the counts
// at the two ends.
uint8_t LedgerLineCost(int32_t nLow, int32_t nHigh);

#endif
