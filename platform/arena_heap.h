// The portable arena heap's record and the fast path of its allocation,
// inline: a large parse asks for half a million small blocks, and while a
// block fits in the run of ready, zero-filled bytes of the current chunk,
// handing it out is a bump of a pointer and three counts, cheaper than the
// call it would take. platform.h includes it for the arena without the
// sanitizer's bookkeeping (VSX_INLINE_ARENA); platform_portable.cpp, which
// holds the rest of the arena, for every arena.
#ifndef VASTREL_ARENA_HEAP_H
#define VASTREL_ARENA_HEAP_H

#include "heap_accounting.h"

#include <stddef.h>

struct SChunk;

// Blocks are cut from the heap's current chunk (the first of its list) at
// pNext, and while they fit below pClean that is all there is to do: up to
// there the chunk's pages are in place and its bytes zero. Only going past
// it takes more: clearing and readying the next run of the chunk, or a new
// chunk. The current chunk's nUsed is brought up to date from pNext then.
struct SHeap {
    char* pNext;      // the current chunk's first unused byte
    char* pClean;     // the end of the ready, zero-filled run from pNext
    SChunk* pChunks;  // the current chunk first
    uint64_t nBytes;
    size_t nNextChunk;  // bytes of the next chunk cut into blocks, header included; 0 before the first
};

// Every block starts on a multiple of this, and takes a multiple of it.
static const size_t kArenaAlignment = 16;

// A block of nNeeded bytes (already counted as an allocation) that does not
// fit in the clean run: the slow path, in platform_portable.cpp.
void* AllocateBeyondCleanRun(SHeap* pHeap, size_t nBytes, size_t nNeeded);

// The bytes a block of nBytes takes, head and red zone aside: at least one,
// rounded up to the alignment (0 when that overflows).
inline size_t AlignedBlockBytes(size_t nBytes) {
    return ((nBytes ? nBytes : 1) + kArenaAlignment - 1) & ~(kArenaAlignment - 1);
}

#if defined(VSX_INLINE_ARENA)
inline void* PlatformAllocate(void* hHeap, size_t nBytes, bool /*bZeroFill*/) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap || !AllocationAllowed()) return nullptr;
    size_t nNeeded = AlignedBlockBytes(nBytes);
    if (nNeeded < nBytes) return nullptr;
    char* pStart = pHeap->pNext;
    if (nNeeded > static_cast<size_t>(pHeap->pClean - pStart)) return AllocateBeyondCleanRun(pHeap, nBytes, nNeeded);
    pHeap->pNext = pStart + nNeeded;
    pHeap->nBytes += nNeeded;
    CountBytes(static_cast<int64_t>(nNeeded));
    return pStart;
}

// Blocks go back with their heap: a single free keeps the arena as it is.
inline void PlatformFree(void*, void*) {}
#endif

#endif
