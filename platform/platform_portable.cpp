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

// Manual poisoning, where AddressSanitizer is there to read it.
#if defined(__SANITIZE_ADDRESS__)
#define VSX_POISONED_ARENA 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VSX_POISONED_ARENA 1
#endif
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
static const size_t kBlockHead = 0;
static const size_t kRedZone = 0;
static void Poison(void*, size_t) {}
static void Unpoison(void*, size_t) {}
#endif

// Chunks come zero-filled from the system, or from the kept chunks of a
// destroyed heap with their used part cleared again block by block, so every
// block comes zero-filled.
struct SChunk {
    SChunk* pNext;
    size_t nSize;     // usable bytes after the header
    size_t nUsed;
    size_t nMapped;   // bytes mapped for the chunk, header included; 0 when calloc'ed
    size_t nReady;    // of a mapped chunk: bytes from its start whose pages are in place
    size_t nDirty;    // of a kept chunk: usable bytes from its start that an earlier heap wrote
};

struct SHeap {
    SChunk* pChunks;  // the chunk being cut first
    uint64_t nBytes;
    size_t nNextChunk;  // bytes of the next chunk cut into blocks, header included; 0 before the first
};

// A heap's first chunk is small, since most heaps hold little (a loaded
// file, a track without notes). A heap that outgrows it is holding a model:
// its next chunk is two megabytes, and every further one twice the one
// before, up to kLargestChunk, so that a track of a hundred thousand notes
// takes a handful of chunks rather than thousands.
static const size_t kChunkBytes = 64 * 1024;  // the first chunk, header included
static const size_t kSecondChunk = 2 * 1024 * 1024;
static const size_t kLargestChunk = 8 * 1024 * 1024;
static const size_t kAlignment = 16;

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
// What the earlier heap wrote is cleared again just before each block is cut
// from it, while those lines are about to be written anyway.
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

// The bytes of a block that an earlier heap wrote are cleared again.
static void ClearDirty(SChunk* pChunk, size_t nFrom, size_t nTo) {
    if (nFrom >= pChunk->nDirty) return;
    if (nTo > pChunk->nDirty) nTo = pChunk->nDirty;
    memset(reinterpret_cast<char*>(pChunk + 1) + nFrom, 0, nTo - nFrom);
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

static void MakeReady(SChunk* pChunk) {
#if defined(MADV_POPULATE_WRITE)
    size_t nNeeded = sizeof(SChunk) + pChunk->nUsed;
    if (!pChunk->nMapped || nNeeded <= pChunk->nReady) return;
    size_t nReady = (nNeeded + kReadyStep - 1) / kReadyStep * kReadyStep;
    if (nReady > pChunk->nMapped) nReady = pChunk->nMapped;
    madvise(reinterpret_cast<char*>(pChunk) + pChunk->nReady, nReady - pChunk->nReady, MADV_POPULATE_WRITE);
    pChunk->nReady = nReady;
#else
    (void)pChunk;
#endif
}
#else
static SChunk* MapChunk(size_t) { return nullptr; }
static void ReleaseChunk(SChunk* pChunk) { free(pChunk); }
static void MakeReady(SChunk*) {}
static void ClearDirty(SChunk*, size_t, size_t) {}
void PlatformReturnKeptMemory() {}
#endif

static size_t AlignUp(size_t n) { return (n + kAlignment - 1) & ~(kAlignment - 1); }

void* PlatformCreateHeap() {
    if (!AllocationAllowed()) return nullptr;
    SHeap* pHeap = static_cast<SHeap*>(calloc(1, sizeof(SHeap)));
    if (pHeap) CountHeapCreated();
    return pHeap;
}

static SChunk* NewChunk(size_t nSize) {
    SChunk* pChunk = MapChunk(nSize);
    if (!pChunk) {
        pChunk = static_cast<SChunk*>(calloc(1, sizeof(SChunk) + nSize));
        if (!pChunk) return nullptr;
        pChunk->nSize = nSize;
    }
    Poison(pChunk + 1, pChunk->nSize);
    return pChunk;
}

// Hands out nBytes at the chunk's first unused byte, which has room for them
// (nNeeded bytes in all).
static void* CutBlock(SChunk* pChunk, size_t nBytes, size_t nNeeded) {
    char* pStart = reinterpret_cast<char*>(pChunk + 1) + pChunk->nUsed;
    ClearDirty(pChunk, pChunk->nUsed, pChunk->nUsed + nNeeded);
    pChunk->nUsed += nNeeded;
    MakeReady(pChunk);
    char* pBlock = pStart + kBlockHead;
    if (kBlockHead) {
        Unpoison(pStart, kBlockHead);
        memcpy(pStart, &nBytes, sizeof nBytes);
        Poison(pStart, kBlockHead);
    }
    Unpoison(pBlock, nBytes);
    return pBlock;
}

void* PlatformAllocate(void* hHeap, size_t nBytes, bool /*bZeroFill*/) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap || !AllocationAllowed()) return nullptr;
    size_t nNeeded = AlignUp(nBytes ? nBytes : 1) + kBlockHead + kRedZone;
    if (nNeeded < nBytes) return nullptr;
    SChunk* pChunk = pHeap->pChunks;
    if (!pChunk || pChunk->nSize - pChunk->nUsed < nNeeded) {
        if (nNeeded > kChunkBytes / 4) {
            // A large block gets a chunk of its own, kept behind the current one.
            SChunk* pOwn = NewChunk(nNeeded);
            if (!pOwn) return nullptr;
            if (pChunk) {
                pOwn->pNext = pChunk->pNext;
                pChunk->pNext = pOwn;
            } else {
                pHeap->pChunks = pOwn;
            }
            pHeap->nBytes += nNeeded;
            CountBytes(static_cast<int64_t>(nNeeded));
            return CutBlock(pOwn, nBytes, nNeeded);
        }
        size_t nChunk = pHeap->nNextChunk ? pHeap->nNextChunk : kChunkBytes;
        pChunk = NewChunk(nChunk - sizeof(SChunk));
        if (!pChunk) return nullptr;
        pHeap->nNextChunk = nChunk == kChunkBytes ? kSecondChunk : nChunk < kLargestChunk ? 2 * nChunk : kLargestChunk;
        pChunk->pNext = pHeap->pChunks;
        pHeap->pChunks = pChunk;
    }
    pHeap->nBytes += nNeeded;
    CountBytes(static_cast<int64_t>(nNeeded));
    return CutBlock(pChunk, nBytes, nNeeded);
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

void PlatformDestroyHeap(void* hHeap) {
    SHeap* pHeap = static_cast<SHeap*>(hHeap);
    if (!pHeap) return;
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

void PlatformSetModule(void*) {}
