// The memory of one script heap. Duktape makes and drops small blocks by the thousand on
// every load; they come from size classes the heap keeps for itself, so that neither
// their making nor the process allocator tidying its own small blocks (which any large
// request of another part of the program sets off) costs a load more than the pages'
// work. Larger blocks come from malloc. Every block carries its size in front, and the
// sizes asked for count against the heap's limit; so do the chunks the small blocks are
// cut from, as a freed small block is kept for its class. Used under the VM's lock, like
// all of Duktape.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace uie::detail {

class HeapMemory {
public:
    explicit HeapMemory(std::size_t limit) : limit_(limit) {}
    ~HeapMemory();  // every block goes: call once the heap is destroyed
    HeapMemory(const HeapMemory&) = delete;
    HeapMemory& operator=(const HeapMemory&) = delete;

    // Null past the limit or when memory runs out, as Duktape expects.
    void* Allocate(std::size_t size);
    void* Reallocate(void* ptr, std::size_t size);
    void Free(void* ptr);
    // Bytes handed out since the last call of Collected().
    std::size_t HandedOut() const { return handedOut_; }
    void Collected() { handedOut_ = 0; }

    static constexpr std::size_t kGrain = 16;
    static constexpr std::size_t kMaxSmall = 512;  // larger blocks come from malloc
    static constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

private:
    struct alignas(std::max_align_t) Head {
        std::size_t size;  // asked for
    };
    static constexpr std::size_t kClasses = kMaxSmall / kGrain;

    static std::size_t ClassOf(std::size_t size) { return size == 0 ? 0 : (size - 1) / kGrain; }
    static bool Small(std::size_t size) { return size <= kMaxSmall; }
    Head* TakeSmall(std::size_t cls);
    void GiveSmall(Head* head);

    const std::size_t limit_;
    std::size_t allocated_ = 0;
    std::size_t handedOut_ = 0;
    std::array<Head*, kClasses> free_{};  // each block's room holds the next
    std::vector<char*> chunks_;
    char* next_ = nullptr;  // the unused rest of the newest chunk
    char* end_ = nullptr;
};

}  // namespace uie::detail
