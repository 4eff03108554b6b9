#include "DB.h"

#include <sqlite3.h>

#include <memory>
#include <string>

#include "Hooks.h"
#include "Recordset.h"
#include "SqliteText.h"

std::atomic<int> DB::s_busyRetries{1000};
std::atomic<int> DB::s_busySleepMs{10};

namespace {

constexpr wchar_t kClosed[] = L"DB is already closed";
constexpr wchar_t kWrongParameter[] = L"wrong type of SQL parameter value";
// What stepping an empty statement (a lone ";" or a comment) gives; not a failure.
constexpr int kEmptyStatement = SQLITE_MISUSE;

// Binds one parameter value, arrays flattened depth first, at index and on; false for a
// value of a kind SQL cannot take.
bool BindValue(sqlite3_stmt* stmt, const uie::value& v, int& index) {
    switch (v.type()) {
    case uie::VT_ARRAY:
        for (const uie::value& item : *v.array_ptr())
            if (!BindValue(stmt, item, index)) return false;
        return true;
    case uie::VT_INT:
        sqlite3_bind_int(stmt, index++, v.get_int());
        return true;
    case uie::VT_FLOAT:
        sqlite3_bind_double(stmt, index++, v.get_double());
        return true;
    case uie::VT_STRING: {
        const std::u16string text = ToSqlite16(*v.string_ptr());
        sqlite3_bind_text64(stmt, index++, reinterpret_cast<const char*>(text.data()),
                            text.size() * sizeof(char16_t), SQLITE_TRANSIENT, SQLITE_UTF16);
        return true;
    }
    case uie::VT_NULL:
        sqlite3_bind_null(stmt, index++);
        return true;
    case uie::VT_BOOL:
        sqlite3_bind_int(stmt, index++, v.get_bool() ? 1 : 0);
        return true;
    case uie::VT_BYTES: {
        // An empty vector may have no storage, and a null pointer would bind NULL.
        const uie::value::bytes_t& bytes = *v.bytes_ptr();
        if (bytes.empty())
            sqlite3_bind_zeroblob(stmt, index++, 0);
        else
            sqlite3_bind_blob64(stmt, index++, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
        return true;
    }
    default:
        return false;
    }
}

// The parameters follow the SQL text in the call.
bool BindParameters(sqlite3_stmt* stmt, const uie::NativeArgs& args) {
    int index = 1;
    for (std::size_t i = 1; i < args.size(); ++i)
        if (!BindValue(stmt, args[i], index)) return false;
    return true;
}

bool IsBlank(char16_t c) { return c >= 1 && c <= 32; }

}  // namespace

bool DB::Define(HVM vm) {
    static const std::shared_ptr<const uie::NativeClassDef> def = [] {
        auto d = std::make_shared<uie::NativeClassDef>();
        d->name = "DB";
        d->classMethods = {{"open", Open}};
        d->methods = {{"close", Close}, {"exec", Exec}, {"lastInsertedID", LastInsertedID}};
        d->constants = {{"BUSY", uie::value(kBusy)},
                        {"DONE", uie::value(kDone)},
                        {"ROW", uie::value(kRow)},
                        {"SCHEMA", uie::value(kSchema)},
                        {"ERROR", uie::value(kError)}};
        // A statement still open keeps the connection until it is finalized.
        d->finalizer = [](void* data) { sqlite3_close_v2(static_cast<sqlite3*>(data)); };
        return std::shared_ptr<const uie::NativeClassDef>(std::move(d));
    }();
    return uie::DefineNativeClass(vm, def);
}

int DB::BusyHandler(void*, int count) {
    if (count >= s_busyRetries) return 0;
    Sleep(static_cast<DWORD>(s_busySleepMs.load()));
    return 1;
}

sqlite3* DB::Handle(const uie::value& self) { return static_cast<sqlite3*>(uie::InstanceData(self)); }

uie::value DB::Open(HVM vm, const uie::NativeArgs& args) {
    const std::u16string path = ToSqlite16(uie::ArgString(args, 0));
    sqlite3* db = nullptr;
    if (sqlite3_open16(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);  // a handle that failed to open is of no further use
        return uie::value::null();
    }
    sqlite3_busy_handler(db, BusyHandler, nullptr);
    uie::value instance = uie::NewInstance(vm, "DB", db);
    if (instance.is_undefined()) {
        sqlite3_close(db);
        return uie::value::null();
    }
    return instance;
}

uie::value DB::Close(HVM, const uie::NativeArgs& args) {
    sqlite3* db = Handle(args.self);
    if (db == nullptr) return uie::value(0);
    uie::SetInstanceData(args.self, nullptr);
    const int rc = sqlite3_close(db);
    // Statements still open: the connection and its file lock go with the last of them.
    if (rc != SQLITE_OK) sqlite3_close_v2(db);
    return uie::value(rc);
}

uie::value DB::LastInsertedID(HVM, const uie::NativeArgs& args) {
    sqlite3* db = Handle(args.self);
    if (db == nullptr) throw uie::ScriptError(kClosed);
    return uie::value(static_cast<int>(sqlite3_last_insert_rowid(db)));
}

uie::value DB::Exec(HVM vm, const uie::NativeArgs& args) {
    sqlite3* db = Handle(args.self);
    if (db == nullptr) throw uie::ScriptError(kClosed);
    std::u16string sql = ToSqlite16(uie::ArgString(args, 0));
    sql.resize(std::char_traits<char16_t>::length(sql.c_str()));  // SQLite reads up to the first NUL
    const char16_t* pos = sql.c_str();
    const char16_t* const end = pos + sql.size();

    int rc = -1;
    sqlite3_stmt* stmt = nullptr;
    bool first = true;
    for (;;) {
        while (pos < end && IsBlank(*pos)) ++pos;
        if (pos >= end) break;
        sqlite3_finalize(stmt);
        stmt = nullptr;
        const void* tail = nullptr;
        const int bytes = static_cast<int>((end - pos + 1) * sizeof(char16_t));
        if (sqlite3_prepare16_v2(db, pos, bytes, &stmt, &tail) != SQLITE_OK) {
            uie::RaiseScriptError(vm, SqliteErrorText(db));
            return uie::value::null();
        }
        if (first && stmt != nullptr && !BindParameters(stmt, args)) {
            sqlite3_finalize(stmt);
            uie::RaiseScriptError(vm, kWrongParameter);
            return uie::value(kError);
        }
        first = false;
        rc = stmt != nullptr ? sqlite3_step(stmt) : kEmptyStatement;
        if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE && rc != kEmptyStatement) {
            uie::RaiseScriptError(vm, SqliteErrorText(db));
            sqlite3_finalize(stmt);
            return uie::value(rc);
        }
        const auto* next = static_cast<const char16_t*>(tail);
        if (next == nullptr || next <= pos || next >= end) break;
        pos = next;
    }
    if (rc == SQLITE_ROW) return Recordset::Make(vm, stmt);
    sqlite3_finalize(stmt);
    return uie::value(rc);
}
