// Allocation from the current track's heap: zero-filled blocks that go with
// the track, and a library error when the heap has none left.
#ifndef VASTREL_CORE_ALLOCATION_H
#define VASTREL_CORE_ALLOCATION_H

#include "../platform/platform.h"
#include "errors.h"
#include "module_state.h"

#include <stddef.h>
#include <stdint.h>

// A zero-filled block of the current track's heap; raises nErrorId when none.
// Inline, like FreeToTrack, since a large parse asks for half a million.
inline void* AllocateFromTrack(size_t nBytes, int nErrorId = kMsgNoMemory) {
    void* pBlock = g_pCurrentTrack ? PlatformAllocate(g_pCurrentTrack->hHeap, nBytes, true) : nullptr;
    if (!pBlock) RaiseError(nErrorId);
    return pBlock;
}

inline void FreeToTrack(void* pBlock) {
    if (g_pCurrentTrack) PlatformFree(g_pCurrentTrack->hHeap, pBlock);
}

// nCount records of the transient heap (the grid of one parse and what the
// build works out beside it, gone with the parse), zero-filled unless the
// caller writes them in full anyway. On a 32-bit system a huge count (a file
// of hundreds of megabytes of note-ons) would wrap the byte size, so it is
// refused like any other allocation that fails.
template <typename T>
T* AllocateTransient(size_t nCount, int nErrorId, bool bZeroFill = true) {
    if (nCount > SIZE_MAX / sizeof(T)) RaiseError(nErrorId);
    size_t nBytes = sizeof(T) * nCount;
    void* pBlock = bZeroFill ? PlatformAllocate(g_hTransientHeap, nBytes, true)
                             : PlatformAllocateUncleared(g_hTransientHeap, nBytes);
    if (!pBlock) RaiseError(nErrorId);
    return static_cast<T*>(pBlock);
}

template <typename T>
T* AllocateRecords(size_t nCount, int nErrorId = kMsgNoMemory) {
    if (nCount > SIZE_MAX / sizeof(T)) RaiseError(nErrorId);
    return static_cast<T*>(AllocateFromTrack(sizeof(T) * nCount, nErrorId));
}

#endif
