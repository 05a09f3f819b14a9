// Test control of the heaps: make the Nth allocation from now fail, to
// exercise every out-of-memory path. Both platform layers keep these counters.
#ifndef VASTREL_FAULT_INJECTION_H
#define VASTREL_FAULT_INJECTION_H

#include <stdint.h>

// After nAllowed more successful allocations (heap creations count too), every
// allocation fails until PlatformStopFailing is called.
void PlatformFailAfter(uint64_t nAllowed);
void PlatformStopFailing();
// Allocations (and heap creations) made since the process started.
uint64_t PlatformAllocationCount();
// Heaps created and not yet destroyed; bytes handed out and not yet released.
int64_t PlatformLiveHeaps();
uint64_t PlatformBytesAllocated();

#endif
