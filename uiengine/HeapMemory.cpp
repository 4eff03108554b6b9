#include "internal/HeapMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <sanitizer/asan_interface.h>

namespace uie::detail {
namespace {

// Blocks kept for reuse are closed to the sanitizers, as a freed block of malloc's is.
void Close(void* p, std::size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void Open(void* p, std::size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }

}  // namespace

HeapMemory::~HeapMemory() {
    for (char* chunk : chunks_) {
        Open(chunk, kChunkBytes);
        std::free(chunk);
    }
}

HeapMemory::Head* HeapMemory::TakeSmall(std::size_t cls) {
    const std::size_t bytes = sizeof(Head) + (cls + 1) * kGrain;
    if (Head* head = free_[cls]) {
        Open(head, bytes);
        std::memcpy(&free_[cls], head + 1, sizeof(Head*));
        // Blocks freed by a collection are cold by now: the next one's link is fetched
        // while Duktape fills this one.
        __builtin_prefetch(free_[cls]);
        return head;
    }
    if (static_cast<std::size_t>(end_ - next_) < bytes) {
        // Freed small blocks stay with their class: the chunks are bounded by the limit
        // themselves, so that sizes asked for in turn cannot hold more than it.
        if (chunks_.size() >= limit_ / kChunkBytes) return nullptr;
        chunks_.push_back(nullptr);  // may throw: caught by the caller
        auto* chunk = static_cast<char*>(std::malloc(kChunkBytes));
        if (chunk == nullptr) {
            chunks_.pop_back();
            return nullptr;
        }
        Close(chunk, kChunkBytes);
        chunks_.back() = chunk;
        next_ = chunk;
        end_ = chunk + kChunkBytes;
    }
    auto* head = reinterpret_cast<Head*>(next_);
    next_ += bytes;
    Open(head, bytes);
    return head;
}

void HeapMemory::GiveSmall(Head* head) {
    const std::size_t cls = ClassOf(head->size);
    std::memcpy(head + 1, &free_[cls], sizeof(Head*));
    free_[cls] = head;
    Close(head, sizeof(Head) + (cls + 1) * kGrain);
}

void* HeapMemory::Allocate(std::size_t size) {
    if (size > limit_ - allocated_) return nullptr;
    Head* head = nullptr;
    try {
        head = Small(size) ? TakeSmall(ClassOf(size)) : static_cast<Head*>(std::malloc(sizeof(Head) + size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (head == nullptr) return nullptr;
    head->size = size;
    allocated_ += size;
    handedOut_ += size;
    return head + 1;
}

void* HeapMemory::Reallocate(void* ptr, std::size_t size) {
    if (ptr == nullptr) return Allocate(size);
    Head* head = static_cast<Head*>(ptr) - 1;
    const std::size_t old = head->size;
    if (size > old && size - old > limit_ - allocated_) return nullptr;
    if (Small(old) && Small(size) && ClassOf(old) == ClassOf(size)) {
        head->size = size;  // fits the room it has
    } else if (!Small(old) && !Small(size)) {
        auto* moved = static_cast<Head*>(std::realloc(head, sizeof(Head) + size));
        if (moved == nullptr) return nullptr;
        head = moved;
        head->size = size;
    } else {
        void* fresh = Allocate(size);
        if (fresh == nullptr) return nullptr;
        std::memcpy(fresh, ptr, old < size ? old : size);
        Free(ptr);
        return fresh;
    }
    allocated_ = allocated_ - old + size;
    return head + 1;
}

void HeapMemory::Free(void* ptr) {
    if (ptr == nullptr) return;
    Head* head = static_cast<Head*>(ptr) - 1;
    allocated_ -= head->size;
    if (Small(head->size)) {
        GiveSmall(head);
    } else {
        std::free(head);
    }
}

}  // namespace uie::detail
