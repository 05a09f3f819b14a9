// What both heap implementations count, for the tests and benchmarks: the
// allocations made (and an injected failure from the Nth on), the heaps
// alive and the bytes handed out.
#ifndef VASTREL_HEAP_ACCOUNTING_H
#define VASTREL_HEAP_ACCOUNTING_H

#include <stdint.h>

// Counts one allocation or heap creation; false when an injected failure says it must fail.
bool AllocationAllowed();
void CountHeapCreated();
void CountHeapDestroyed();
void CountBytes(int64_t nDelta);

#endif
