#include "internal/HeapMemory.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using uie::detail::HeapMemory;

// Small blocks freed are kept for their size, so blocks of every size asked for in turn
// would each fill the limit anew: the room they are cut from counts against it too.
TEST(HeapMemoryTest, SmallBlocksOfEverySizeInTurnHoldNoMoreThanTheLimit) {
    constexpr std::size_t kLimit = std::size_t{1} << 20;
    HeapMemory memory(kLimit);
    std::size_t held = 0;  // the most room the blocks of one size took, summed over the sizes
    for (std::size_t size = HeapMemory::kGrain; size <= HeapMemory::kMaxSmall; size += HeapMemory::kGrain) {
        std::vector<void*> blocks;
        while (void* block = memory.Allocate(size)) blocks.push_back(block);
        held += blocks.size() * size;
        for (void* block : blocks) memory.Free(block);
    }
    EXPECT_LE(held, kLimit + HeapMemory::kChunkBytes);
    // What was freed is still handed out again, and a large block within the limit is had.
    void* again = memory.Allocate(HeapMemory::kGrain);
    EXPECT_NE(again, nullptr);
    memory.Free(again);
    void* large = memory.Allocate(kLimit / 2);
    EXPECT_NE(large, nullptr);
    memory.Free(large);
}

}  // namespace
