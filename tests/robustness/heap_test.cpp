// The private heaps a model lives in: a heap that grows from its small first
// chunk to chunks of several megabytes (mapped straight from the system on
// Linux) must still hand out every block zero-filled, aligned and apart from
// every other, and give every byte back when it is destroyed; the chunks a
// destroyed heap leaves for the next ones come to them zero-filled again.
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
const size_t kSizes[] = {1, 16, 48, 200, 1000, 4096, 17000, 70000, 3 * 1024 * 1024, 9 * 1024 * 1024};

// Takes blocks of every size from the heap until they fill 28 MB (the blocks
// of a megabyte and more once), so that the heap passes through every size
// of chunk; each block must come zero-filled and aligned, and is then
// written all over with its own number, from `first` on.
std::vector<Block> FillHeap(void* heap, size_t first) {
    std::vector<Block> blocks;
    size_t total = 0;
    for (int round = 0; total < 28u * 1024 * 1024; ++round) {
        for (size_t size : kSizes) {
            if (size > 1024 * 1024 && round != 0) continue;
            auto* bytes = static_cast<unsigned char*>(PlatformAllocate(heap, size, true));
            EXPECT_NE(bytes, nullptr) << size << " bytes";
            if (!bytes) return blocks;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % kAlignment, 0u) << size << " bytes";
            std::vector<unsigned char> zeros(size, 0);
            EXPECT_EQ(memcmp(bytes, zeros.data(), size), 0) << "a block of " << size << " bytes is not zero-filled";
            memset(bytes, static_cast<int>((first + blocks.size()) % 251 + 1), size);
            blocks.push_back({bytes, size});
            total += size;
        }
    }
    return blocks;
}

// A later block cut from the same place would have overwritten an earlier one.
void ExpectBlocksKept(const std::vector<Block>& blocks, size_t first, const char* heap) {
    for (size_t i = 0; i < blocks.size(); ++i) {
        const unsigned char expected = static_cast<unsigned char>((first + i) % 251 + 1);
        ASSERT_EQ(blocks[i].bytes[0], expected) << heap << " block " << i;
        ASSERT_EQ(blocks[i].bytes[blocks[i].size - 1], expected) << heap << " block " << i;
        ASSERT_EQ(blocks[i].bytes[blocks[i].size / 2], expected) << heap << " block " << i;
    }
}

TEST(Heap, GrowingHeapHandsOutZeroFilledSeparateBlocks) {
    const int64_t heapsBefore = PlatformLiveHeaps();
    const uint64_t bytesBefore = PlatformBytesAllocated();
    void* heap = PlatformCreateHeap();
    ASSERT_NE(heap, nullptr);
    std::vector<Block> blocks = FillHeap(heap, 0);
    size_t total = 0;
    for (const Block& block : blocks) total += block.size;
    EXPECT_GE(PlatformBytesAllocated() - bytesBefore, total);
    ExpectBlocksKept(blocks, 0, "the heap's");

    PlatformDestroyHeap(heap);
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
    EXPECT_EQ(PlatformBytesAllocated(), bytesBefore);
}

// The chunks a destroyed heap leaves for the next heaps: the next heap gets
// them written all over by the first and must still see zeros; two heaps
// alive together never share one; and once given back nothing is counted.
TEST(Heap, ChunksOfADestroyedHeapServeTheNextCleared) {
    const int64_t heapsBefore = PlatformLiveHeaps();
    const uint64_t bytesBefore = PlatformBytesAllocated();
    void* first = PlatformCreateHeap();
    ASSERT_NE(first, nullptr);
    FillHeap(first, 0);
    PlatformDestroyHeap(first);

    void* second = PlatformCreateHeap();
    void* third = PlatformCreateHeap();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(third, nullptr);
    std::vector<Block> secondBlocks = FillHeap(second, 7);
    std::vector<Block> thirdBlocks = FillHeap(third, 100);
    ExpectBlocksKept(secondBlocks, 7, "the second heap's");
    ExpectBlocksKept(thirdBlocks, 100, "the third heap's");

    PlatformDestroyHeap(second);
    PlatformDestroyHeap(third);
    PlatformReturnKeptMemory();
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
    EXPECT_EQ(PlatformBytesAllocated(), bytesBefore);
}

// Heaps that each use a different share of the chunks they take, one after
// another, so that a kept chunk comes to the next heap written to some depth
// that is not where the earlier heap stopped: blocks that start just before
// that depth, end just after it or are much longer than the run cleared at a
// time must all come zero-filled, and no heap may see another's bytes.
TEST(Heap, PartlyWrittenChunksAreClearedWhereverTheNextBlockFalls) {
    struct Lifetime {
        size_t blockSize;  // every block of the heap
        size_t bytes;      // what the heap takes in all
    };
    const Lifetime lifetimes[] = {
        {4000, 5 * 1024 * 1024},  {24, 3 * 1024 * 1024},   {12000, 7 * 1024 * 1024}, {8192, 100 * 1024},
        {1, 40 * 1024},           {9000, 6 * 1024 * 1024}, {100, 2 * 1024 * 1024},  {16000, 12 * 1024 * 1024},
        {520, 11 * 1024 * 1024},  {3, 500 * 1024},
    };
    const int64_t heapsBefore = PlatformLiveHeaps();
    const uint64_t bytesBefore = PlatformBytesAllocated();
    for (int pass = 0; pass < 2; ++pass) {
        for (const Lifetime& lifetime : lifetimes) {
            void* heap = PlatformCreateHeap();
            ASSERT_NE(heap, nullptr);
            std::vector<unsigned char> zeros(lifetime.blockSize, 0);
            std::vector<Block> blocks;
            for (size_t taken = 0; taken < lifetime.bytes; taken += lifetime.blockSize) {
                auto* bytes = static_cast<unsigned char*>(PlatformAllocate(heap, lifetime.blockSize, true));
                ASSERT_NE(bytes, nullptr);
                ASSERT_EQ(memcmp(bytes, zeros.data(), lifetime.blockSize), 0)
                    << "block " << blocks.size() << " of " << lifetime.blockSize << " bytes is not zero-filled";
                memset(bytes, static_cast<int>(blocks.size() % 251 + 1), lifetime.blockSize);
                blocks.push_back({bytes, lifetime.blockSize});
            }
            ExpectBlocksKept(blocks, 0, "the heap's");
            PlatformDestroyHeap(heap);
        }
    }
    PlatformReturnKeptMemory();
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
    EXPECT_EQ(PlatformBytesAllocated(), bytesBefore);
}

// Blocks taken without clearing (as a parse takes its grid) may hold what an
// earlier heap wrote, but the zero-filled blocks cut after them, from the
// same chunks, must still come zero-filled, and none may overlap another.
// Each heap takes two uncleared blocks of its sizes, writes them all over,
// then zero-filled blocks of every size; heap after heap, so that every heap
// but the first works in chunks the one before left written.
TEST(Heap, UnclearedBlocksLeaveTheBlocksAfterThemZeroFilled) {
    const size_t unclearedSizes[][2] = {{300 * 1024, 700 * 1024}, {20000, 5 * 1024 * 1024}, {100, 16 * 1024},
                                        {2 * 1024 * 1024, 70000}, {700 * 1024, 300 * 1024}};
    const int64_t heapsBefore = PlatformLiveHeaps();
    const uint64_t bytesBefore = PlatformBytesAllocated();
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& sizes : unclearedSizes) {
            void* heap = PlatformCreateHeap();
            ASSERT_NE(heap, nullptr);
            std::vector<Block> blocks;
            for (size_t size : sizes) {
                auto* bytes = static_cast<unsigned char*>(PlatformAllocateUncleared(heap, size));
                ASSERT_NE(bytes, nullptr) << size << " bytes";
                EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % kAlignment, 0u) << size << " bytes";
                memset(bytes, static_cast<int>(blocks.size() % 251 + 1), size);
                blocks.push_back({bytes, size});
            }
            std::vector<Block> zeroFilled = FillHeap(heap, blocks.size());
            blocks.insert(blocks.end(), zeroFilled.begin(), zeroFilled.end());
            ExpectBlocksKept(blocks, 0, "the heap's");
            PlatformDestroyHeap(heap);
        }
    }
    PlatformReturnKeptMemory();
    EXPECT_EQ(PlatformLiveHeaps(), heapsBefore);
    EXPECT_EQ(PlatformBytesAllocated(), bytesBefore);
}

}  // namespace
