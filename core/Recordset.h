// The script class "Recordset": the rows of the statement a page's DB.exec left on a
// row. It walks forward only; a page cannot make one itself.
#pragma once

#include <vector>

#include "ScriptVM.h"

struct sqlite3_stmt;

class Recordset {
public:
    // Defines the class on a page's VM; the definition is built once per process.
    static bool Define(HVM vm);
    // A new instance that takes over the statement, positioned on its current row. When
    // the VM lacks the class the statement is finalized and the result is undefined.
    static uie::value Make(HVM vm, sqlite3_stmt* stmt);

private:
    static uie::value Construct(HVM vm, const uie::NativeArgs& args);
    static uie::value Next(HVM vm, const uie::NativeArgs& args);
    static uie::value Close(HVM vm, const uie::NativeArgs& args);
    static uie::value Name(HVM vm, const uie::NativeArgs& args);
    static uie::value Length(HVM vm, const uie::NativeArgs& args);
    static uie::value Valid(HVM vm, const uie::NativeArgs& args);
    static uie::value Item(HVM vm, const uie::NativeArgs& args);
    static std::vector<uie::value> Values(HVM vm, const uie::value& self);

    // The statement an instance holds; null once closed.
    static sqlite3_stmt* Statement(const uie::value& self);
    // Finalizes the statement and forgets it; false when there was none.
    static bool Finalize(const uie::value& self);
    // The column of the key (index, name or symbol); -1 when none matches.
    static int FindColumn(sqlite3_stmt* stmt, const uie::value& key);
    static uie::value ColumnValue(HVM vm, sqlite3_stmt* stmt, int column);
};
