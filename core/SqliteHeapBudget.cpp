#include "SqliteHeapBudget.h"

#include <sqlite3.h>

#include <algorithm>

// SQLite's own allocator, with the budget of the calling thread's scope in front of it.
struct SqliteHeapCounting {
    static sqlite3_mem_methods base;
    static thread_local SqliteHeapBudget* active;

    static bool Fits(SqliteHeapBudget* budget, std::int64_t held, int bytes) {
        if (budget == nullptr || budget->used_ - held + bytes <= budget->bytes_) return true;
        ++budget->refusals_;
        return false;
    }
    static void Count(SqliteHeapBudget* budget, std::int64_t delta) {
        // What was allocated before the scope and freed inside it counts as nothing.
        if (budget != nullptr) budget->used_ = std::max<std::int64_t>(0, budget->used_ + delta);
    }
    static void* Malloc(int bytes) {
        SqliteHeapBudget* const budget = active;
        if (!Fits(budget, 0, bytes)) return nullptr;
        void* const block = base.xMalloc(bytes);
        if (block != nullptr) Count(budget, base.xSize(block));
        return block;
    }
    static void Free(void* block) {
        if (block != nullptr) Count(active, -base.xSize(block));
        base.xFree(block);
    }
    static void* Realloc(void* block, int bytes) {
        SqliteHeapBudget* const budget = active;
        const std::int64_t held = block != nullptr ? base.xSize(block) : 0;
        if (!Fits(budget, held, bytes)) return nullptr;
        void* const moved = base.xRealloc(block, bytes);
        if (moved != nullptr) Count(budget, base.xSize(moved) - held);
        return moved;
    }
    static int Size(void* block) { return base.xSize(block); }
    static int Roundup(int bytes) { return base.xRoundup(bytes); }
    static int Init(void* data) { return base.xInit(data); }
    static void Shutdown(void* data) { base.xShutdown(data); }

    static bool Install() {
        if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &base) != SQLITE_OK) return false;
        static const sqlite3_mem_methods counting{&Malloc, &Free, &Realloc, &Size, &Roundup, &Init, &Shutdown,
                                                  base.pAppData};
        return sqlite3_config(SQLITE_CONFIG_MALLOC, &counting) == SQLITE_OK;
    }
};

sqlite3_mem_methods SqliteHeapCounting::base{};
thread_local SqliteHeapBudget* SqliteHeapCounting::active = nullptr;

namespace {

// Before main, while no thread can have used SQLite yet.
const bool g_installed = SqliteHeapCounting::Install();

}  // namespace

bool SqliteHeapBudget::Installed() { return g_installed; }

SqliteHeapBudget::Scope::Scope(SqliteHeapBudget& budget) : outer_(SqliteHeapCounting::active) {
    SqliteHeapCounting::active = &budget;
}

SqliteHeapBudget::Scope::~Scope() { SqliteHeapCounting::active = outer_; }
