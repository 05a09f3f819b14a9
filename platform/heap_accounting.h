// What both heap implementations count, for the tests and benchmarks: the
// allocations made (and an injected failure from the Nth on), the heaps
// alive and the bytes handed out. The counters are inline so that the half
// million allocations of a large parse pay a compare and two adds each, not
// two calls. The platform's heaps include this header, and through the
// portable arena's inline allocation (arena_heap.h) so does every caller.
#ifndef VASTREL_HEAP_ACCOUNTING_H
#define VASTREL_HEAP_ACCOUNTING_H

#include <stdint.h>

inline uint64_t g_nAllocations = 0;        // allocations and heap creations so far
inline uint64_t g_nFailFrom = UINT64_MAX;  // the allocation count from which all fail
inline int64_t g_nLiveHeaps = 0;
inline uint64_t g_nBytesAllocated = 0;

// Counts one allocation or heap creation; false when an injected failure says it must fail.
inline bool AllocationAllowed() {
    if (g_nAllocations >= g_nFailFrom) return false;
    ++g_nAllocations;
    return true;
}

inline void CountHeapCreated() { ++g_nLiveHeaps; }
inline void CountHeapDestroyed() { --g_nLiveHeaps; }
inline void CountBytes(int64_t nDelta) { g_nBytesAllocated += static_cast<uint64_t>(nDelta); }

#endif
