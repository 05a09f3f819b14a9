// The private heaps a model lives in: a heap that grows from its small first
// chunk to chunks of several megabytes (mapped straight from the system on
// Linux) must still hand out every block zero-filled, aligned and apart from
// every other, and give every byte back when it is destroyed.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "../../platform/fault_injection.h"
#include "../../platform/platform.h"

namespace {

// What the system heaps promise: 8 bytes on a 32-bit system (HeapAlloc
// in the DLL), 16 on a 64-bit one.
const uintptr_t kAlignment = 2 * sizeof(void*);

struct Block {
    unsigned char* bytes;
    size_t size;
};

// Sizes that cut small blocks from the chunks, blocks large enough for a
// chunk of their own, and one larger than the largest chunk.
TEST(Heap, GrowingHeapHandsOutZeroFilledSeparateBlocks) {
    const size_t kSizes[] = {1, 16, 48, 200, 1000, 4096, 17000, 70000, 3 * 1024 * 1024, 9 * 1024 * 1024};
    const int64_t heapsBefore = PlatformLiveHeaps();
    const uint64_t bytesBefore = PlatformBytesAllocated();
    void* heap = PlatformCreateHeap();
    ASSERT_NE(heap, nullptr);

    // The blocks of a megabyte and more once, the others until they fill
    // 16 MB, so that the heap passes through every size of chunk.
    std::vector<Block> blocks;
    size_t total = 0;
    for (int round = 0; total < 28u * 1024 * 1024; ++round) {
        for (size_t size : kSizes) {
            if (size > 1024 * 1024 && round != 0) continue;
            auto* bytes = static_cast<unsigned char*>(PlatformAllocate(heap, size, true));
            ASSERT_NE(bytes, nullptr) << size << " bytes";
            EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % kAlignment, 0u) << size << " bytes";
            std::vector<unsigned char> zeros(size, 0);
            ASSERT_EQ(memcmp(bytes, zeros.data(), size), 0) << "a block of " << size << " bytes is not zero-filled";
            // Each block is written all over with its own number; a later
            // block cut from the same place would overwrite it.
            memset(bytes, static_cast<int>(blocks.size() % 251 + 1), size);
            blocks.push_back({bytes, size});
            total += size;
        }
    }
    EXPECT_GE(PlatformBytesAllocated() - bytesBefore, total);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const unsigned char expected = static_cast<unsigned char>(i % 251 + 1);
        ASSERT_EQ(blocks[i].bytes[0], expected) << "block " << i;
        ASSERT_EQ(blocks[i].bytes[blocks[i].size - 1], expected) << "block " << i;
        ASSERT_EQ(blocks[i].bytes[blocks[i].size / 2], expected) << "block " << i;
    }

    PlatformDestroyHeap(heap);
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
    EXPECT_EQ(PlatformBytesAllocated(), bytesBefore);
}

}  // namespace
