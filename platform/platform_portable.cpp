// The platform layer for every system but Windows: arena heaps, stdio file
// reading and a compiled-in string table.
//
// A heap is an arena: blocks are cut from large zero-filled chunks and only
// the whole heap is ever given back, which is what the model's lifetimes need
// (a track lives and dies as one). In checked builds (VSX_CHECKED_HEAP, set
// for the sanitizer tests) every block is its own malloc instead, so that
// AddressSanitizer sees any use of a freed block or of a destroyed heap with
// the stack that allocated it. An arena built with AddressSanitizer (the
// fuzz target's, where speed counts) poisons what lies between its blocks
// and every block given back, so that overruns and uses after a free are
// still caught, at a fraction of the cost of a malloc per block.
#include "platform.h"
#include "heap_accounting.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>


// ---- Heaps -------------------------------------------------------------------

#if defined(VSX_CHECKED_HEAP)

// Every block carries a header that links it into its heap's list.
struct SBlockHeader {
    SBlockHeader* pPrev;
    SBlockHeader* pNext;
    size_t nBytes;
    size_t nPadding;  // keeps the block after the header 16-byte aligned
};

struct SHeap {
    SBlockHeader* pFirst;
    uint64_t nBytes;
};

void* PlatformCreateHeap() {
    if (!AllocationAllowed()) return nullptr;
    SHeap* pHeap = static_cast<SHeap*>(calloc(1, sizeof(SHeap)));
    if (pHeap) CountHeapCreated();
    return pHeap;
}

void* PlatformAllocate(void* hHeap, size_t nBytes, bool bZeroFill) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap || !AllocationAllowed()) return nullptr;
    size_t nTotal = sizeof(SBlockHeader) + nBytes;
    if (nTotal < nBytes) return nullptr;
    SBlockHeader* pBlock = static_cast<SBlockHeader*>(bZeroFill ? calloc(1, nTotal) : malloc(nTotal));
    if (!pBlock) return nullptr;
    pBlock->pPrev = nullptr;
    pBlock->pNext = pHeap->pFirst;
    pBlock->nBytes = nBytes;
    if (pHeap->pFirst) pHeap->pFirst->pPrev = pBlock;
    pHeap->pFirst = pBlock;
    pHeap->nBytes += nBytes;
    CountBytes(static_cast<int64_t>(nBytes));
    return pBlock + 1;
}

void* PlatformAllocateUncleared(void* hHeap, size_t nBytes) { return PlatformAllocate(hHeap, nBytes, false); }

void PlatformFree(void* hHeap, void* pData) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap || !pData) return;
    SBlockHeader* pBlock = static_cast<SBlockHeader*>(pData) - 1;
    if (pBlock->pPrev) pBlock->pPrev->pNext = pBlock->pNext;
    else pHeap->pFirst = pBlock->pNext;
    if (pBlock->pNext) pBlock->pNext->pPrev = pBlock->pPrev;
    pHeap->nBytes -= pBlock->nBytes;
    CountBytes(-static_cast<int64_t>(pBlock->nBytes));
    free(pBlock);
}

void PlatformDestroyHeap(void* hHeap) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap) return;
    for (SBlockHeader* pBlock = pHeap->pFirst; pBlock;) {
        SBlockHeader* pNext = pBlock->pNext;
        free(pBlock);
        pBlock = pNext;
    }
    CountBytes(-static_cast<int64_t>(pHeap->nBytes));
    CountHeapDestroyed();
    free(pHeap);
}

// Every block went back to the C library at once: nothing is kept.
void PlatformReturnKeptMemory() {}

#else

#include "arena_heap.h"

// Manual poisoning, where AddressSanitizer is there to read it.
#if defined(VSX_ADDRESS_SANITIZER)
#define VSX_POISONED_ARENA 1
#endif

#if defined(VSX_POISONED_ARENA)
#include <sanitizer/asan_interface.h>
// Each block is [size][the block][red zone]: the size (to poison the block
// when it is freed) and the red zone stay poisoned.
static const size_t kBlockHead = 16;
static const size_t kRedZone = 16;
static void Poison(void* p, size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
static void Unpoison(void* p, size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
// Blocks without head or red zone, cut inline (arena_heap.h).
static const size_t kBlockHead = 0;
static const size_t kRedZone = 0;
static void Poison(void*, size_t) {}
static void Unpoison(void*, size_t) {}
#endif

// A chunk's blocks are cut one after another from its start. Its bytes come
// zero-filled from the system, except a part that something may have
// written before: what an earlier heap used of a kept chunk, or all of a
// small chunk from the C library. That part is cleared again a run at a time
// just ahead of the blocks cut from it, while those lines are about to be
// written anyway, so every block comes zero-filled.
struct SChunk {
    SChunk* pNext;
    size_t nSize;     // usable bytes after the header
    size_t nUsed;     // bytes cut into blocks (the heap's current chunk: see SHeap)
    size_t nMapped;   // bytes mapped for the chunk, header included; 0 when from the C library
    size_t nReady;    // bytes from its start, header included, whose pages are in place
    size_t nDirty;    // usable bytes from its start that may hold something other than zeros
};

// The heap's record, SHeap, is in arena_heap.h, with the fast path of
// PlatformAllocate.

// A heap's first chunk is small, since most heaps hold little (a loaded
// file, a track without notes). A heap that outgrows it is holding a model:
// its next chunk is two megabytes, and every further one twice the one
// before, up to kLargestChunk, so that a track of a hundred thousand notes
// takes a handful of chunks rather than thousands.
static const size_t kChunkBytes = 64 * 1024;  // the first chunk, header included
static const size_t kSecondChunk = 2 * 1024 * 1024;
static const size_t kLargestChunk = 8 * 1024 * 1024;
// Bytes written earlier are cleared at least this many at a time: about ten
// of the model's blocks, a tenth of the calls of clearing block by block,
// and little enough to be cleared with plain vector stores and to stay in
// the first-level cache until the blocks cut from it are written.
static const size_t kClearRun = 2 * 1024;

static char* ChunkStart(SChunk* pChunk) { return reinterpret_cast<char*>(pChunk + 1); }

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && !defined(VSX_POISONED_ARENA)
#include <sys/mman.h>
// Every chunk but a heap's small first one is mapped straight from the
// system (or taken from those kept, below), which hands them over
// zero-filled: nothing clears them a second time, and the C library's heap
// does not grow in thousands of small steps. (Asking
// for large pages as well, MADV_HUGEPAGE, cut the page faults by a factor of
// ten but made the time of a large parse erratic on a virtual machine.)
static const size_t kLargePage = 2 * 1024 * 1024;

// The mapped chunks of destroyed heaps, kept for the next heaps up to
// kKeptBytes until the file is released: a program that releases one track before it parses the next
// (or a parse's transient heap, gone before the next track's heap grows)
// then reuses pages already in place instead of taking fresh ones from the
// system, a page fault and a page cleared by the kernel every four kilobytes.
static const size_t kKeptBytes = 32 * 1024 * 1024;
static SChunk* g_pKeptChunks;
static size_t g_nKeptBytes;

static void ReleaseChunk(SChunk* pChunk) {
    if (!pChunk->nMapped) {
        free(pChunk);
    } else if (g_nKeptBytes + pChunk->nMapped <= kKeptBytes) {
        if (pChunk->nUsed > pChunk->nDirty) pChunk->nDirty = pChunk->nUsed;
        pChunk->nUsed = 0;
        pChunk->pNext = g_pKeptChunks;
        g_pKeptChunks = pChunk;
        g_nKeptBytes += pChunk->nMapped;
    } else {
        munmap(pChunk, pChunk->nMapped);
    }
}

// The smallest kept chunk with room for nSize bytes, taken off the list; not
// one more than twice as large, which a larger request will want.
static SChunk* TakeKeptChunk(size_t nSize) {
    SChunk** ppBest = nullptr;
    for (SChunk** pp = &g_pKeptChunks; *pp; pp = &(*pp)->pNext) {
        size_t nRoom = (*pp)->nSize;
        if (nRoom >= nSize && nRoom <= 2 * nSize + kChunkBytes && (!ppBest || nRoom < (*ppBest)->nSize)) ppBest = pp;
    }
    if (!ppBest) return nullptr;
    SChunk* pChunk = *ppBest;
    *ppBest = pChunk->pNext;
    pChunk->pNext = nullptr;
    g_nKeptBytes -= pChunk->nMapped;
    return pChunk;
}

void PlatformReturnKeptMemory() {
    while (g_pKeptChunks) {
        SChunk* pChunk = g_pKeptChunks;
        g_pKeptChunks = pChunk->pNext;
        munmap(pChunk, pChunk->nMapped);
    }
    g_nKeptBytes = 0;
}

// A chunk of two megabytes and more is mapped in whole large pages, a
// smaller one (a block too large to share a chunk) in steps of the first
// chunk's size.
static SChunk* MapChunk(size_t nSize) {
    size_t nWanted = sizeof(SChunk) + nSize;
    if (nWanted <= kChunkBytes) return nullptr;
    if (SChunk* pKept = TakeKeptChunk(nSize)) return pKept;
    size_t nStep = nWanted < kLargePage ? kChunkBytes : kLargePage;
    size_t nMapped = (nWanted + nStep - 1) / nStep * nStep;
    void* pMapped = mmap(nullptr, nMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pMapped == MAP_FAILED) return nullptr;
    SChunk* pChunk = static_cast<SChunk*>(pMapped);
    pChunk->nMapped = nMapped;
    pChunk->nSize = nMapped - sizeof(SChunk);
    return pChunk;
}

// The pages of a mapped chunk are put in place a quarter of a megabyte at a
// time, just ahead of the blocks cut from it, with one call instead of a
// page fault for every four kilobytes. (A system without the call leaves
// them to page faults, as before.)
static const size_t kReadyStep = 256 * 1024;

// Readies the chunk's pages at least up to nTo usable bytes.
static void MakeReady(SChunk* pChunk, size_t nTo) {
    size_t nNeeded = sizeof(SChunk) + nTo;
    if (nNeeded <= pChunk->nReady) return;
    size_t nReady = (nNeeded + kReadyStep - 1) / kReadyStep * kReadyStep;
    if (nReady > pChunk->nMapped) nReady = pChunk->nMapped;
#if defined(MADV_POPULATE_WRITE)
    madvise(reinterpret_cast<char*>(pChunk) + pChunk->nReady, nReady - pChunk->nReady, MADV_POPULATE_WRITE);
#endif
    pChunk->nReady = nReady;
}
#else
static SChunk* MapChunk(size_t) { return nullptr; }
static void ReleaseChunk(SChunk* pChunk) { free(pChunk); }
static void MakeReady(SChunk*, size_t) {}
void PlatformReturnKeptMemory() {}
#endif

void* PlatformCreateHeap() {
    if (!AllocationAllowed()) return nullptr;
    SHeap* pHeap = static_cast<SHeap*>(calloc(1, sizeof(SHeap)));
    if (pHeap) CountHeapCreated();
    return pHeap;
}

// A chunk that is not mapped comes from the C library, whole. A large one
// is asked for zero-filled, which the system gives as untouched pages; a
// small one would be cleared in full by calloc, while most heaps use a few
// hundred bytes of their first chunk, so it is taken as it is and cleared
// run by run like a kept chunk.
static SChunk* NewChunk(size_t nSize) {
    SChunk* pChunk = MapChunk(nSize);
    if (!pChunk) {
        bool bSmall = sizeof(SChunk) + nSize <= kChunkBytes;
        pChunk = static_cast<SChunk*>(bSmall ? malloc(sizeof(SChunk) + nSize) : calloc(1, sizeof(SChunk) + nSize));
        if (!pChunk) return nullptr;
        memset(pChunk, 0, sizeof(SChunk));
        pChunk->nSize = nSize;
        pChunk->nReady = sizeof(SChunk) + nSize;
        pChunk->nDirty = bSmall ? nSize : 0;
    }
    Poison(ChunkStart(pChunk), pChunk->nSize);
    return pChunk;
}

// Clears the bytes from nFrom to nTo that may have been written.
static void ClearDirty(SChunk* pChunk, size_t nFrom, size_t nTo) {
    if (nTo > pChunk->nDirty) nTo = pChunk->nDirty;
    if (nFrom >= nTo) return;
    char* pFrom = ChunkStart(pChunk) + nFrom;
    Unpoison(pFrom, nTo - nFrom);
    memset(pFrom, 0, nTo - nFrom);
    Poison(pFrom, nTo - nFrom);
}

// Makes a run of at least nNeeded bytes from the chunk's first unused one
// ready and zero-filled; returns where the run ends. Where nothing was
// written, the run goes as far as the pages in place.
static size_t PrepareRun(SChunk* pChunk, size_t nNeeded) {
    size_t nFrom = pChunk->nUsed;
    size_t nTo = nFrom + (nNeeded > kClearRun ? nNeeded : kClearRun);
    if (nTo > pChunk->nSize) nTo = pChunk->nSize;
    MakeReady(pChunk, nTo);
    ClearDirty(pChunk, nFrom, nTo);
    if (nTo < pChunk->nDirty) return nTo;
    pChunk->nDirty = nFrom;  // all after the used part is zero now
    return pChunk->nReady - sizeof(SChunk);
}

// The current chunk's count of bytes cut, brought up to date.
static void NoteUsed(SHeap* pHeap) {
    if (pHeap->pChunks) pHeap->pChunks->nUsed = static_cast<size_t>(pHeap->pNext - ChunkStart(pHeap->pChunks));
}

// A large block gets a chunk of its own, kept behind the current one (or
// made the current one, when there is none, for the blocks after it). What
// an earlier heap wrote there is cleared unless the caller says it need not.
static char* CutOwnChunk(SHeap* pHeap, size_t nNeeded, bool bClear = true) {
    SChunk* pOwn = NewChunk(nNeeded);
    if (!pOwn) return nullptr;
    MakeReady(pOwn, nNeeded);
    if (bClear) ClearDirty(pOwn, 0, nNeeded);
    pOwn->nUsed = nNeeded;
    if (SChunk* pCurrent = pHeap->pChunks) {
        pOwn->pNext = pCurrent->pNext;
        pCurrent->pNext = pOwn;
    } else {
        pHeap->pChunks = pOwn;
        pHeap->pNext = pHeap->pClean = ChunkStart(pOwn) + nNeeded;
    }
    return ChunkStart(pOwn);
}

// Where a block that does not fit in the clean run is cut: from the rest of
// the current chunk if it fits there, from a chunk of its own if large, or
// else from a new current chunk.
static char* CutBeyondCleanRun(SHeap* pHeap, size_t nNeeded) {
    NoteUsed(pHeap);
    SChunk* pChunk = pHeap->pChunks;
    if (!pChunk || pChunk->nSize - pChunk->nUsed < nNeeded) {
        if (nNeeded > kChunkBytes / 4) return CutOwnChunk(pHeap, nNeeded);
        size_t nChunk = pHeap->nNextChunk ? pHeap->nNextChunk : kChunkBytes;
        pChunk = NewChunk(nChunk - sizeof(SChunk));
        if (!pChunk) return nullptr;
        pHeap->nNextChunk = nChunk == kChunkBytes ? kSecondChunk : nChunk < kLargestChunk ? 2 * nChunk : kLargestChunk;
        pChunk->pNext = pHeap->pChunks;
        pHeap->pChunks = pChunk;
    }
    size_t nClean = PrepareRun(pChunk, nNeeded);
    char* pStart = ChunkStart(pChunk) + pChunk->nUsed;
    pHeap->pNext = pStart + nNeeded;
    pHeap->pClean = ChunkStart(pChunk) + nClean;
    return pStart;
}

// The block behind its head (where the sanitizer's build keeps its size),
// made usable.
static void* HandOut(char* pStart, size_t nBytes) {
    char* pBlock = pStart + kBlockHead;
    if (kBlockHead) {
        Unpoison(pStart, kBlockHead);
        memcpy(pStart, &nBytes, sizeof nBytes);
        Poison(pStart, kBlockHead);
    }
    Unpoison(pBlock, nBytes);
    return pBlock;
}

// A block cut at pStart, nNeeded bytes in all, counted and handed out.
static void* CountAndHandOut(SHeap* pHeap, char* pStart, size_t nBytes, size_t nNeeded) {
    pHeap->nBytes += nNeeded;
    CountBytes(static_cast<int64_t>(nNeeded));
    return HandOut(pStart, nBytes);
}

// The slow path of PlatformAllocate, out of its way.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void* AllocateBeyondCleanRun(SHeap* pHeap, size_t nBytes, size_t nNeeded) {
    char* pStart = CutBeyondCleanRun(pHeap, nNeeded);
    return pStart ? CountAndHandOut(pHeap, pStart, nBytes, nNeeded) : nullptr;
}

// The arena that poisons for the sanitizer hands out its blocks here; the
// plain arena inline (arena_heap.h), the same way without heads and red zones.
#if !defined(VSX_INLINE_ARENA)
void* PlatformAllocate(void* hHeap, size_t nBytes, bool /*bZeroFill*/) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap || !AllocationAllowed()) return nullptr;
    size_t nNeeded = AlignedBlockBytes(nBytes) + kBlockHead + kRedZone;
    if (nNeeded < nBytes) return nullptr;
    char* pStart = pHeap->pNext;
    if (nNeeded > static_cast<size_t>(pHeap->pClean - pStart)) return AllocateBeyondCleanRun(pHeap, nBytes, nNeeded);
    pHeap->pNext = pStart + nNeeded;
    return CountAndHandOut(pHeap, pStart, nBytes, nNeeded);
}

// Blocks go back with their heap; a single free keeps the arena as it is
// (and, with the sanitizer, makes the block unusable).
void PlatformFree(void*, void* pData) {
    if (!kBlockHead || !pData) return;
    char* pStart = static_cast<char*>(pData) - kBlockHead;
    size_t nBytes;
    Unpoison(pStart, kBlockHead);
    memcpy(&nBytes, pStart, sizeof nBytes);
    Poison(pStart, kBlockHead + nBytes);
}
#endif

// A block too large to share a chunk gets one of its own, as it would from
// PlatformAllocate, but what an earlier heap left in it stays; a smaller
// block is cut as usual.
void* PlatformAllocateUncleared(void* hHeap, size_t nBytes) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    size_t nNeeded = AlignedBlockBytes(nBytes) + kBlockHead + kRedZone;
    if (!pHeap || nNeeded < nBytes || nNeeded <= kChunkBytes / 4) return PlatformAllocate(hHeap, nBytes, false);
    if (!AllocationAllowed()) return nullptr;
    NoteUsed(pHeap);
    char* pStart = CutOwnChunk(pHeap, nNeeded, false);
    return pStart ? CountAndHandOut(pHeap, pStart, nBytes, nNeeded) : nullptr;
}

void PlatformDestroyHeap(void* hHeap) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap) return;
    NoteUsed(pHeap);
    for (SChunk* pChunk = pHeap->pChunks; pChunk;) {
        SChunk* pNext = pChunk->pNext;
        ReleaseChunk(pChunk);
        pChunk = pNext;
    }
    CountBytes(-static_cast<int64_t>(pHeap->nBytes));
    CountHeapDestroyed();
    free(pHeap);
}

#endif

// ---- Files -------------------------------------------------------------------

struct SPlatformFile {
    FILE* pStream;
};

SPlatformFile* PlatformOpenFile(const char* pszPath) {
    if (!pszPath) return nullptr;
    FILE* pStream = fopen(pszPath, "rb");
    if (!pStream) return nullptr;
    struct stat status;
    if (fstat(fileno(pStream), &status) != 0 || !S_ISREG(status.st_mode)) {
        fclose(pStream);
        return nullptr;
    }
    SPlatformFile* pFile = static_cast<SPlatformFile*>(malloc(sizeof(SPlatformFile)));
    if (!pFile) {
        fclose(pStream);
        return nullptr;
    }
    pFile->pStream = pStream;
    return pFile;
}

uint64_t PlatformFileSize(SPlatformFile* pFile) {
    struct stat status;
    if (fstat(fileno(pFile->pStream), &status) != 0 || status.st_size < 0) return 0;
    return static_cast<uint64_t>(status.st_size);
}

uint32_t PlatformReadFile(SPlatformFile* pFile, void* pBuffer, uint32_t nBytes) {
    return static_cast<uint32_t>(fread(pBuffer, 1, nBytes, pFile->pStream));
}

void PlatformCloseFile(SPlatformFile* pFile) {
    fclose(pFile->pStream);
    free(pFile);
}

// ---- String table ------------------------------------------------------------

struct SStringEntry {
    unsigned nId;
    const char* pszText;
};

static const SStringEntry g_aStrings[] = {
#define VSX_STRING(id, text) {id, text},
#include "../resources/strings.def"
#undef VSX_STRING
};

int PlatformLoadString(unsigned nId, char* pBuffer, int nLimit) {
    if (!pBuffer || nLimit <= 0) return 0;
    pBuffer[0] = '\0';
    for (const SStringEntry& entry : g_aStrings) {
        if (entry.nId != nId) continue;
        size_t nLength = strlen(entry.pszText);
        if (nLength > static_cast<size_t>(nLimit - 1)) nLength = static_cast<size_t>(nLimit - 1);
        memcpy(pBuffer, entry.pszText, nLength);
        pBuffer[nLength] = '\0';
        return static_cast<int>(nLength);
    }
    return 0;
}

char* PlatformCopyString(char* pszTarget, const char* pszSource) { return strcpy(pszTarget, pszSource); }

void* g_hModule = nullptr;

void PlatformSetModule(void*) {}
