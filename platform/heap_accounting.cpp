// Allocation counting and failure injection, shared by the Win32 and the
// portable heaps: what the tests and benchmarks read and set.
#include "heap_accounting.h"

#include "fault_injection.h"

void PlatformFailAfter(uint64_t nAllowed) { g_nFailFrom = g_nAllocations + nAllowed; }
void PlatformStopFailing() { g_nFailFrom = UINT64_MAX; }
uint64_t PlatformAllocationCount() { return g_nAllocations; }
int64_t PlatformLiveHeaps() { return g_nLiveHeaps; }
uint64_t PlatformBytesAllocated() { return g_nBytesAllocated; }
