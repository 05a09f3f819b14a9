// Bit helpers of the grid arithmetic and of the sets of sections.
#ifndef VASTREL_CORE_BITS_H
#define VASTREL_CORE_BITS_H

#include <stdint.h>

// A grid halves down to single slots, and a note length is one plain value,
// only when it is a power of two. `&` rather than `&&`: no branch, since the
// builder asks it of every piece of every note.
inline bool IsPowerOfTwo(uint32_t n) { return (n != 0) & ((n & (n - 1)) == 0); }

// The position of the lowest set bit of a word that has one: that bit alone,
// times a de Bruijn sequence, leaves a pattern of its own in the top six
// bits for each of the 64 positions (no division, no compiler intrinsic).
inline uint32_t LowestBit(uint64_t q) {
    static const uint8_t kPosition[64] = {
        0,  1,  48, 2,  57, 49, 28, 3,  61, 58, 50, 42, 38, 29, 17, 4,  62, 55, 59, 36, 53, 51,
        43, 22, 45, 39, 33, 30, 24, 18, 12, 5,  63, 47, 56, 27, 60, 41, 37, 16, 54, 35, 52, 21,
        44, 32, 23, 11, 46, 26, 40, 15, 34, 20, 31, 10, 25, 14, 19, 9,  13, 8,  7,  6};
    return kPosition[((q & (0 - q)) * 0x03F79D71B4CB0A89u) >> 58];
}

// Calls visit(k) for every bit k set in a set of nWords 64-bit words (bit k
// is bit k % 64 of word k / 64), in ascending order.
template <typename Visit>
inline void ForEachInSet(const uint64_t* pqSet, uint32_t nWords, Visit visit) {
    for (uint32_t w = 0; w < nWords; ++w)
        for (uint64_t q = pqSet[w]; q; q &= q - 1) visit(w * 64 + LowestBit(q));
}

#endif
