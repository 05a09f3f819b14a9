// Allocation counting and failure injection, shared by the Win32 and the
// portable heaps.
#include "heap_accounting.h"

#include "fault_injection.h"

static uint64_t g_nAllocations = 0;        // allocations and heap creations so far
static uint64_t g_nFailFrom = UINT64_MAX;  // the allocation count from which all fail
static int64_t g_nLiveHeaps = 0;
static uint64_t g_nBytesAllocated = 0;

void PlatformFailAfter(uint64_t nAllowed) { g_nFailFrom = g_nAllocations + nAllowed; }
void PlatformStopFailing() { g_nFailFrom = UINT64_MAX; }
uint64_t PlatformAllocationCount() { return g_nAllocations; }
int64_t PlatformLiveHeaps() { return g_nLiveHeaps; }
uint64_t PlatformBytesAllocated() { return g_nBytesAllocated; }

bool AllocationAllowed() {
    if (g_nAllocations >= g_nFailFrom) return false;
    ++g_nAllocations;
    return true;
}

void CountHeapCreated() { ++g_nLiveHeaps; }
void CountHeapDestroyed() { --g_nLiveHeaps; }
void CountBytes(int64_t nDelta) { g_nBytesAllocated += static_cast<uint64_t>(nDelta); }
