#include "Recordset.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "CxLog.h"
#include "SqliteText.h"

namespace {

constexpr wchar_t kClosed[] = L"Recordset is already closed";
constexpr wchar_t kNotFound[] = L"Field with the index is not found";

using NameReader = const void* (*)(sqlite3_stmt*, int);

// The reader of a name kind: absent or #logical the result column's own name; null for
// a kind that names nothing.
NameReader NameReaderOf(const uie::value& kind) {
    if (kind.is_undefined()) return sqlite3_column_name16;
    if (!kind.is_symbol()) return nullptr;
    const std::wstring name = kind.get_string();
    if (name == L"logical") return sqlite3_column_name16;
    if (name == L"field") return sqlite3_column_origin_name16;
    if (name == L"table") return sqlite3_column_table_name16;
    if (name == L"database") return sqlite3_column_database_name16;
    return nullptr;
}

std::wstring ColumnText16(sqlite3_stmt* stmt, int column) {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt, column));
    const int bytes = sqlite3_column_bytes16(stmt, column);
    if (text == nullptr || bytes <= 0) return {};
    return text::FromUtf16(std::u16string_view(text, static_cast<std::size_t>(bytes) / sizeof(char16_t)));
}

}  // namespace

bool Recordset::Define(HVM vm) {
    static const std::shared_ptr<const uie::NativeClassDef> def = [] {
        auto d = std::make_shared<uie::NativeClassDef>();
        d->name = "Recordset";
        d->constructor = Construct;
        d->methods = {{"next", Next}, {"close", Close}, {"name", Name}};
        d->properties = {{"length", Length, {}}, {"valid", Valid, {}}};
        d->getItem = Item;
        d->iterate = Values;
        d->finalizer = [](void* data) { sqlite3_finalize(static_cast<sqlite3_stmt*>(data)); };
        return std::shared_ptr<const uie::NativeClassDef>(std::move(d));
    }();
    return uie::DefineNativeClass(vm, def);
}

uie::value Recordset::Make(HVM vm, sqlite3_stmt* stmt) {
    uie::value instance = uie::NewInstance(vm, "Recordset", stmt);
    if (instance.is_undefined()) sqlite3_finalize(stmt);
    return instance;
}

sqlite3_stmt* Recordset::Statement(const uie::value& self) {
    return static_cast<sqlite3_stmt*>(uie::InstanceData(self));
}

bool Recordset::Finalize(const uie::value& self) {
    sqlite3_stmt* stmt = Statement(self);
    if (stmt == nullptr) return false;
    uie::SetInstanceData(self, nullptr);
    sqlite3_finalize(stmt);
    return true;
}

uie::value Recordset::Construct(HVM, const uie::NativeArgs&) {
    throw uie::ScriptError(L"Recordset is creatable only by DB.exec()");
}

uie::value Recordset::Next(HVM vm, const uie::NativeArgs& args) {
    sqlite3_stmt* stmt = Statement(args.self);
    if (stmt == nullptr) {
        uie::RaiseScriptError(vm, kClosed);
        return uie::value(false);
    }
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return uie::value(true);
    // The page sees only the end of the rows; the cause is kept in the log.
    if (rc != SQLITE_DONE) {
        LOGF(LOG_ERROR, L"Recordset::next", L"[%d][%s]", rc, SqliteErrorText(sqlite3_db_handle(stmt)).c_str());
    }
    Finalize(args.self);
    return uie::value(false);
}

uie::value Recordset::Close(HVM, const uie::NativeArgs& args) { return uie::value(Finalize(args.self)); }

uie::value Recordset::Name(HVM vm, const uie::NativeArgs& args) {
    sqlite3_stmt* stmt = Statement(args.self);
    if (stmt == nullptr) {
        uie::RaiseScriptError(vm, kClosed);
        return uie::value(false);
    }
    const int column = uie::ArgInt(args, 0);
    const NameReader read = NameReaderOf(args[1]);
    if (read == nullptr) {
        uie::RaiseScriptError(vm, L"Unknown type of name");
        return uie::value(false);
    }
    const void* name = read(stmt, column);
    return name != nullptr ? uie::value(FromSqlite16(name)) : uie::value();
}

uie::value Recordset::Length(HVM, const uie::NativeArgs& args) {
    sqlite3_stmt* stmt = Statement(args.self);
    return stmt != nullptr ? uie::value(sqlite3_column_count(stmt)) : uie::value();
}

uie::value Recordset::Valid(HVM, const uie::NativeArgs& args) { return uie::value(Statement(args.self) != nullptr); }

int Recordset::FindColumn(sqlite3_stmt* stmt, const uie::value& key) {
    const int count = sqlite3_column_count(stmt);
    if (key.is_string()) {
        for (int i = 0; i < count; ++i)
            if (FromSqlite16(sqlite3_column_name16(stmt, i)) == *key.string_ptr()) return i;
    } else if (key.is_symbol()) {
        const std::string wanted = text::ToUtf8(key.get_string());
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(stmt, i);
            if (name != nullptr && wanted == name) return i;
        }
    }
    return -1;
}

uie::value Recordset::Item(HVM vm, const uie::NativeArgs& args) {
    sqlite3_stmt* stmt = Statement(args.self);
    if (stmt == nullptr) {
        uie::RaiseScriptError(vm, kClosed);
        return {};
    }
    const uie::value& key = args[0];
    if (key.is_int()) {
        const int column = key.get_int();
        if (column < 0 || column >= sqlite3_column_count(stmt)) return {};  // nothing, and no error
        return ColumnValue(vm, stmt, column);
    }
    const int column = FindColumn(stmt, key);
    if (column < 0) {
        uie::RaiseScriptError(vm, kNotFound);
        return {};
    }
    return ColumnValue(vm, stmt, column);
}

std::vector<uie::value> Recordset::Values(HVM vm, const uie::value& self) {
    std::vector<uie::value> values;
    sqlite3_stmt* stmt = Statement(self);
    if (stmt == nullptr) return values;
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) values.push_back(ColumnValue(vm, stmt, i));
    return values;
}

uie::value Recordset::ColumnValue(HVM vm, sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return uie::value(sqlite3_column_int(stmt, column));  // the low 32 bits of a wider value
    case SQLITE_FLOAT:
        return uie::value(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT:
        return uie::value(ColumnText16(stmt, column));
    case SQLITE_BLOB: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
        const int size = sqlite3_column_bytes(stmt, column);
        if (data == nullptr || size <= 0) return uie::value::from_bytes({});
        return uie::value::from_bytes(uie::value::bytes_t(data, data + size));
    }
    case SQLITE_NULL:
        return uie::value::null();
    default:
        uie::RaiseScriptError(vm, L"Unknown type of field");
        return {};
    }
}
