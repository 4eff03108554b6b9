#include "internal/HeapMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <sanitizer/asan_interface.h>

namespace uie::detail {

// Kept at a chunk's start; its blocks follow.
struct HeapMemory::Chunk {
    Chunk* prev;  // in its class's chunks with room
    Chunk* next;
    Chunk* allPrev;  // in every chunk held
    Chunk* allNext;
    Head* free;  // blocks given back, each block's room holding the next
    char* bump;  // the part never handed out yet
    char* end;
    std::size_t live;  // blocks handed out
    std::size_t cls;
    bool open;
};

namespace {

// Blocks kept for reuse are closed to the sanitizers, as a freed block of malloc's is.
void Close(void* p, std::size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void Open(void* p, std::size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }

}  // namespace

std::size_t HeapMemory::ChunkHead() {
    constexpr std::size_t kAlign = alignof(std::max_align_t);
    return (sizeof(Chunk) + kAlign - 1) / kAlign * kAlign;
}

HeapMemory::~HeapMemory() {
    while (all_ != nullptr) FreeChunk(all_);
}

bool HeapMemory::Room(std::size_t bytes) {
    if (bytes <= limit_ - held_) return true;
    if (spare_ != nullptr) FreeChunk(std::exchange(spare_, nullptr));
    return bytes <= limit_ - held_;
}

HeapMemory::Chunk* HeapMemory::NewChunk(std::size_t cls) {
    Chunk* chunk = std::exchange(spare_, nullptr);
    if (chunk == nullptr) {
        if (!Room(kChunkBytes)) return nullptr;
        auto* memory = static_cast<char*>(std::malloc(kChunkBytes));
        if (memory == nullptr) return nullptr;
        chunk = new (memory) Chunk{};
        chunk->allNext = all_;
        if (all_ != nullptr) all_->allPrev = chunk;
        all_ = chunk;
        held_ += kChunkBytes;
    }
    char* const base = reinterpret_cast<char*>(chunk);
    chunk->free = nullptr;
    chunk->bump = base + ChunkHead();
    chunk->end = base + kChunkBytes;
    chunk->live = 0;
    chunk->cls = cls;
    Close(chunk->bump, static_cast<std::size_t>(chunk->end - chunk->bump));
    OpenChunk(chunk);
    return chunk;
}

void HeapMemory::FreeChunk(Chunk* chunk) {
    if (chunk->allPrev != nullptr) chunk->allPrev->allNext = chunk->allNext;
    if (chunk->allNext != nullptr) chunk->allNext->allPrev = chunk->allPrev;
    if (all_ == chunk) all_ = chunk->allNext;
    Open(chunk, kChunkBytes);
    chunk->~Chunk();
    std::free(chunk);
    held_ -= kChunkBytes;
}

void HeapMemory::Retire(Chunk* chunk) {
    CloseChunk(chunk);
    if (spare_ == nullptr) {
        spare_ = chunk;  // an empty chunk given back at once would be asked for again soon
    } else {
        FreeChunk(chunk);
    }
}

void HeapMemory::OpenChunk(Chunk* chunk) {
    Chunk*& first = open_[chunk->cls];
    chunk->prev = nullptr;
    chunk->next = first;
    if (first != nullptr) first->prev = chunk;
    first = chunk;
    chunk->open = true;
}

void HeapMemory::CloseChunk(Chunk* chunk) {
    if (!chunk->open) return;
    if (chunk->prev != nullptr) chunk->prev->next = chunk->next;
    if (chunk->next != nullptr) chunk->next->prev = chunk->prev;
    if (open_[chunk->cls] == chunk) open_[chunk->cls] = chunk->next;
    chunk->open = false;
}

HeapMemory::Head* HeapMemory::TakeSmall(std::size_t cls) {
    const std::size_t bytes = BlockBytes(cls);
    Chunk* chunk = open_[cls];
    if (chunk == nullptr && (chunk = NewChunk(cls)) == nullptr) return nullptr;
    Head* head = chunk->free;
    if (head != nullptr) {
        Open(head, bytes);
        std::memcpy(&chunk->free, head + 1, sizeof(Head*));
        // Blocks freed by a collection are cold by now: the next one's link is fetched
        // while Duktape fills this one.
        __builtin_prefetch(chunk->free);
    } else {
        head = reinterpret_cast<Head*>(chunk->bump);
        chunk->bump += bytes;
        Open(head, bytes);
    }
    ++chunk->live;
    if (chunk->free == nullptr && static_cast<std::size_t>(chunk->end - chunk->bump) < bytes) CloseChunk(chunk);
    head->chunk = chunk;
    return head;
}

void HeapMemory::GiveSmall(Head* head) {
    Chunk* const chunk = head->chunk;
    const std::size_t bytes = BlockBytes(chunk->cls);
    std::memcpy(head + 1, &chunk->free, sizeof(Head*));
    chunk->free = head;
    Close(head, bytes);
    if (--chunk->live == 0) {
        Retire(chunk);
    } else if (!chunk->open) {
        OpenChunk(chunk);
    }
}

void* HeapMemory::Allocate(std::size_t size) {
    Head* head = nullptr;
    if (Small(size)) {
        head = TakeSmall(ClassOf(size));
    } else if (size <= limit_ && Room(sizeof(Head) + size)) {
        head = static_cast<Head*>(std::malloc(sizeof(Head) + size));
        if (head != nullptr) {
            head->chunk = nullptr;
            held_ += sizeof(Head) + size;
        }
    }
    if (head == nullptr) return nullptr;
    head->size = size;
    handedOut_ += size;
    return head + 1;
}

void* HeapMemory::Reallocate(void* ptr, std::size_t size) {
    if (ptr == nullptr) return Allocate(size);
    Head* head = static_cast<Head*>(ptr) - 1;
    const std::size_t old = head->size;
    if (Small(old) && Small(size) && ClassOf(old) == ClassOf(size)) {
        head->size = size;  // fits the room it has
        return ptr;
    }
    if (!Small(old) && !Small(size)) {
        if (size > old && (size > limit_ || !Room(size - old))) return nullptr;
        auto* moved = static_cast<Head*>(std::realloc(head, sizeof(Head) + size));
        if (moved == nullptr) return nullptr;
        held_ = held_ - old + size;
        moved->size = size;
        return moved + 1;
    }
    void* fresh = Allocate(size);
    if (fresh == nullptr) return nullptr;
    std::memcpy(fresh, ptr, old < size ? old : size);
    Free(ptr);
    return fresh;
}

void HeapMemory::Free(void* ptr) {
    if (ptr == nullptr) return;
    Head* head = static_cast<Head*>(ptr) - 1;
    if (head->chunk != nullptr) {
        GiveSmall(head);
        return;
    }
    held_ -= sizeof(Head) + head->size;
    std::free(head);
}

}  // namespace uie::detail
