#include "DataClassKit.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "Config.h"
#include "CxLog.h"
#include "Hooks.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"

namespace records {

std::wstring ReplyField(const std::wstring& reply, int n, int maxLen) { return GetValue(reply, n, L'\x02', maxLen); }

int ReplyInt(const std::wstring& reply, int n) { return text::WToI(ReplyField(reply, n).c_str()); }

std::optional<int> WireNumber(std::wstring_view text, int min, int max) {
    int value = 0;
    if (!text::ParseWholeInt(text, value) || value < min || value > max) return std::nullopt;
    return value;
}

std::optional<int> ReplyNumber(const std::wstring& reply, int n, int min, int max) {
    return WireNumber(ReplyField(reply, n), min, max);
}

int ReplyResult(const wchar_t* function, int command, const std::wstring& reply) {
    if (const std::optional<int> code = ReplyNumber(reply, 1)) return *code;
    LOGF(LOG_WARNING, function, L"reply 0x%04X without a result code, taken as a failure:[%s]", command,
         reply.c_str());
    return kNoResult;
}

int ReplyFieldCount(const std::wstring& reply) {
    const auto separators = std::count(reply.begin(), reply.end(), L'\x02');
    const bool openLast = !reply.empty() && reply.back() != L'\x02';
    return static_cast<int>(separators) + (openLast ? 1 : 0);
}

bool HasFields(const wchar_t* function, int command, const std::wstring& text, int fields) {
    const int held = ReplyFieldCount(text);
    if (held >= fields) return true;
    LOGF(LOG_WARNING, function, L"reply 0x%04X cut short: %d of %d fields:[%s]", command, held, fields, text.c_str());
    return false;
}

std::wstring MemberText(const uie::value& object, const wchar_t* key, const std::wstring& fallback) {
    const uie::value v = object.get_item(uie::value(key));
    return v.is_string() ? v.get_string() : fallback;
}

int MemberInt(const uie::value& object, const wchar_t* key, int fallback) {
    const uie::value v = object.get_item(uie::value(key));
    if (v.is_int()) return v.get_int();
    if (v.is_float()) {
        // Converting NaN or a value past int's range is undefined: it is not a number here.
        const double d = v.get_double();
        const bool fits = std::isfinite(d) && d > static_cast<double>(INT_MIN) - 1.0 &&
                          d < static_cast<double>(INT_MAX) + 1.0;
        return fits ? static_cast<int>(d) : fallback;
    }
    return fallback;
}

int ExecOneRow(const wchar_t* function, const std::wstring& sql) {
    const int changed = g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQL(sql) : -1;
    if (changed != 1) LOGF(LOG_WARNING, function, L"ExecuteSQLCommandWithReturn:[%d][%s]", changed, sql.c_str());
    return changed;
}

uie::value MakeObject(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    uie::value object = uie::value::make_map();
    for (const auto& [key, v] : members) object.set_item(uie::value(key), v);
    return object;
}

bool DictionaryLoad::Begin() {
    if (loaded.exchange(1) != 0) return false;
    loadTick = GetTickCount();
    lastNo = -1;
    return true;
}

int ColumnInt(const std::vector<std::wstring>& row, std::size_t column) {
    return column < row.size() ? text::WToI(row[column].c_str()) : 0;
}

std::wstring ColumnText(const std::vector<std::wstring>& row, std::size_t column) {
    return column < row.size() ? row[column] : std::wstring();
}

bool SelectEachRow(const std::wstring& sql, const std::function<bool(const std::vector<std::wstring>& row)>& row,
                   const std::function<void(int errorCode, const wchar_t* errorMessage)>& failed) {
    CSqliteDB db;
    try {
        db.open(g_Config.m_config.userDBName);
        CSqliteQuery query = db.execQuery(sql);
        std::vector<std::wstring> columns;
        for (; !query.eof(); query.nextRow()) {
            columns.clear();
            for (int i = 0; i < query.numFields(); ++i) columns.push_back(query.getStringField(i));
            if (!row(columns)) break;
        }
        query.finalize();
        db.close();
    } catch (const CSqliteException& e) {
        failed(e.errorCode(), e.errorMessage());
        return false;  // the query closed with its scope, the connection closes with db
    }
    return true;
}

int SelectOwnConnection(const wchar_t* function, const wchar_t* shortName, const std::wstring& sql,
                        const std::function<bool(const std::vector<std::wstring>& row)>& row) {
    const bool read = SelectEachRow(sql, row, [function, shortName](int code, const wchar_t* message) {
        LOGF(LOG_MESSAGE, function, L"CSqliteException[%s]:[%d][%s]", shortName, code, message);
    });
    return read ? 1 : 0;
}

}  // namespace records
