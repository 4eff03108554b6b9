// The memory of one script heap. Duktape makes and drops small blocks by the thousand on
// every load; they come from chunks the heap keeps for itself, each cut into blocks of one
// size class, so that neither their making nor the process allocator tidying its own small
// blocks (which any large request of another part of the program sets off) costs a load
// more than the pages' work. Larger blocks come from malloc. What the heap holds counts
// against its one limit: every chunk whole, every large block with its size; a chunk whose
// last block goes is given back (one is kept spare), so room freed by blocks of one size
// serves every other. Used on the VM's thread only, like all of Duktape.
#pragma once

#include <array>
#include <cstddef>

namespace uie::detail {

class HeapMemory {
public:
    explicit HeapMemory(std::size_t limit) : limit_(limit) {}
    ~HeapMemory();  // every chunk goes: call once the heap is destroyed
    HeapMemory(const HeapMemory&) = delete;
    HeapMemory& operator=(const HeapMemory&) = delete;

    // Null past the limit or when memory runs out, as Duktape expects.
    void* Allocate(std::size_t size);
    void* Reallocate(void* ptr, std::size_t size);
    void Free(void* ptr);
    // Bytes handed out since the last call of Collected().
    std::size_t HandedOut() const { return handedOut_; }
    void Collected() { handedOut_ = 0; }
    // What counts against the limit now.
    std::size_t Held() const { return held_; }

    static constexpr std::size_t kGrain = 16;
    static constexpr std::size_t kMaxSmall = 512;  // larger blocks come from malloc
    static constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

private:
    struct Chunk;
    struct alignas(std::max_align_t) Head {
        Chunk* chunk;      // of a small block; null for a large one
        std::size_t size;  // asked for
    };
    static constexpr std::size_t kClasses = kMaxSmall / kGrain;

    static std::size_t ClassOf(std::size_t size) { return size == 0 ? 0 : (size - 1) / kGrain; }
    static std::size_t BlockBytes(std::size_t cls) { return sizeof(Head) + (cls + 1) * kGrain; }
    static bool Small(std::size_t size) { return size <= kMaxSmall; }
    static std::size_t ChunkHead();  // the chunk's record, before its blocks
    // Whether `bytes` more may be held, the spare chunk given back first if need be.
    bool Room(std::size_t bytes);
    Head* TakeSmall(std::size_t cls);
    void GiveSmall(Head* head);
    Chunk* NewChunk(std::size_t cls);
    void Retire(Chunk* chunk);
    void FreeChunk(Chunk* chunk);
    void OpenChunk(Chunk* chunk);   // into its class's chunks with room
    void CloseChunk(Chunk* chunk);  // out of them: full, or empty

    const std::size_t limit_;
    std::size_t held_ = 0;
    std::size_t handedOut_ = 0;
    std::array<Chunk*, kClasses> open_{};  // each class's chunks with room, a list
    Chunk* spare_ = nullptr;               // an empty chunk kept for the next one needed
    Chunk* all_ = nullptr;                 // every chunk held, a list
};

}  // namespace uie::detail
