// A ceiling on the memory SQLite allocates for the statements one thread runs, while that
// thread runs them. SQLite's own heap limits hold for the whole process, so a statement
// from outside that reached one would fail every other connection's allocations with it;
// this one counts only what its own thread allocates inside its scope, and past the
// ceiling only those allocations fail (the statement ends with "out of memory").
#pragma once

#include <cstdint>

class SqliteHeapBudget {
public:
    explicit SqliteHeapBudget(std::int64_t bytes) : bytes_(bytes) {}
    SqliteHeapBudget(const SqliteHeapBudget&) = delete;
    SqliteHeapBudget& operator=(const SqliteHeapBudget&) = delete;

    // Whether the counting allocator stands under SQLite: it can only be put there before
    // SQLite's first use, which is why it is put there as the program loads.
    static bool Installed();

    // What SQLite allocated on this thread while it lived counts against the budget;
    // scopes nest, the innermost counting.
    class Scope {
    public:
        explicit Scope(SqliteHeapBudget& budget);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SqliteHeapBudget* outer_;
    };

    // What the scopes' allocations hold now, and how many of their allocations it refused.
    std::int64_t Used() const { return used_; }
    std::int64_t Refusals() const { return refusals_; }
    std::int64_t Bytes() const { return bytes_; }

private:
    friend struct SqliteHeapCounting;

    const std::int64_t bytes_;
    std::int64_t used_ = 0;  // touched only by the thread whose scope is open
    std::int64_t refusals_ = 0;
};
