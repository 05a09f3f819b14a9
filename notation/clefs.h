// Clef selection (stage H): the ledger-line measure it decides by.
#ifndef VASTREL_CLEFS_H
#define VASTREL_CLEFS_H

#include <stdint.h>

// Ledger lines a note on drawing position s needs on a five-line staff with
// its lines on steps 2 to 10: above the top line one for every two steps
// from step 12 up, below the bottom line one for every two steps from step
// 0 down. A measure needs as many as the farther end of its range.
constexpr uint32_t LedgerLines(int64_t s) {
    if (s >= 12) return static_cast<uint32_t>((s - 10) / 2);
    if (s <= 0) return static_cast<uint32_t>((2 - s) / 2);
    return 0;
}

#endif
