#include "internal/HeapMemory.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using uie::detail::HeapMemory;

// What the pool holds counts against the one limit, and a chunk whose blocks are all given
// back goes back: blocks of each size in turn fill the limit anew and never pass it, and a
// large block is had after them.
TEST(HeapMemoryTest, EachSizeInTurnFillsTheLimitAndNoMore) {
    constexpr std::size_t kLimit = std::size_t{1} << 20;
    HeapMemory memory(kLimit);
    for (std::size_t size = HeapMemory::kGrain; size <= HeapMemory::kMaxSmall; size += HeapMemory::kGrain) {
        std::vector<void*> blocks;
        while (void* block = memory.Allocate(size)) blocks.push_back(block);
        EXPECT_LE(memory.Held(), kLimit);
        EXPECT_GE(blocks.size() * size, kLimit / 4) << size;  // not left to the sizes before
        for (void* block : blocks) memory.Free(block);
        EXPECT_LE(memory.Held(), HeapMemory::kChunkBytes);  // the one kept spare
    }
    void* large = memory.Allocate(kLimit - 64);
    EXPECT_NE(large, nullptr);
    memory.Free(large);
    EXPECT_EQ(memory.Held(), 0u);
}

}  // namespace
