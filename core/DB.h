// The script class "DB": a page's own connection to any SQLite file, outside the
// program's database object and its table lock. exec runs SQL with bound parameters
// and hands a statement that yields rows to a Recordset.
#pragma once

#include <atomic>

#include "ScriptVM.h"

struct sqlite3;

class DB {
public:
    // SQLite's result codes, which are also the class's constants.
    static constexpr int kBusy = 5;
    static constexpr int kDone = 101;
    static constexpr int kRow = 100;
    static constexpr int kSchema = 17;
    static constexpr int kError = 1;

    // How long a connection waits for a lock another connection holds: this many
    // retries of this many milliseconds. Tests shorten them.
    static std::atomic<int> s_busyRetries;
    static std::atomic<int> s_busySleepMs;

    // Defines the class on a page's VM; the definition is built once per process.
    static bool Define(HVM vm);

private:
    static uie::value Open(HVM vm, const uie::NativeArgs& args);
    static uie::value Close(HVM vm, const uie::NativeArgs& args);
    static uie::value Exec(HVM vm, const uie::NativeArgs& args);
    static uie::value LastInsertedID(HVM vm, const uie::NativeArgs& args);
    static int BusyHandler(void* unused, int count);
    // The connection an instance holds; null once closed.
    static sqlite3* Handle(const uie::value& self);
};
