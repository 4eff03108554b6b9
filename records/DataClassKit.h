// What every data class does the same way: reading reply fields, reading a page's
// object, writing a one-row table, and read-only script properties that read the
// singleton's record at the moment the page asks.
#pragma once

#include <atomic>
#include <climits>
#include <functional>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ScriptVM.h"

namespace records {

constexpr int kReplyFieldMax = 260;  // one reply field, as the server's texts are cut
// A field read whole: the reply's payload is at most 4096 characters.
constexpr int kReplyWholeMax = 4097;

// Field n of a reply, counted from 1, split at code 2.
std::wstring ReplyField(const std::wstring& reply, int n, int maxLen = kReplyFieldMax);
// The same field through the decimal conversion (not a number: 0).
int ReplyInt(const std::wstring& reply, int n);
// A number from the wire, checked before any arithmetic: decimal digits with an optional
// sign (blanks around them), within [min, max], the range its use allows; none for an empty
// text, anything else, or a number outside the range.
std::optional<int> WireNumber(std::wstring_view text, int min = INT_MIN, int max = INT_MAX);
std::optional<int> ReplyNumber(const std::wstring& reply, int n, int min = INT_MIN, int max = INT_MAX);
// What an acknowledgement's result code (field 1) stands for: failure is below 0, and one
// that is empty or no number is kNoResult, a failure, logged at Warning with the command.
constexpr int kNoResult = -1000;
int ReplyResult(const wchar_t* function, int command, const std::wstring& reply);
// How many fields a reply holds: the server ends each with code 2; text after the last
// separator counts as one more. "" has none, "0\x02ok\x02" two.
int ReplyFieldCount(const std::wstring& reply);
// True when text holds at least `fields` fields; otherwise one Warning line naming the
// command, and the caller refuses the reply (or ends its rows): a reply cut short would
// store its missing fields as 0 or empty over what is held.
bool HasFields(const wchar_t* function, int command, const std::wstring& text, int fields);

// A text member of a page's object; the fallback when it is missing or not a string.
std::wstring MemberText(const uie::value& object, const wchar_t* key, const std::wstring& fallback = {});
// A number member; the fallback when it is missing or not a number.
int MemberInt(const uie::value& object, const wchar_t* key, int fallback);

// Runs an update of a one-row table; any count other than 1 is logged at Warning with
// the statement. Returns the count (-1 on failure).
int ExecOneRow(const wchar_t* function, const std::wstring& sql);

// A column of a row through the decimal conversion; 0 past the row's end.
int ColumnInt(const std::vector<std::wstring>& row, std::size_t column);
// A column's text; empty past the row's end.
std::wstring ColumnText(const std::vector<std::wstring>& row, std::size_t column);

// The record a map of owned records holds under key, made when missing; null when it
// cannot be made (nothing is added then).
template <class Map>
auto FindOrMake(Map& map, const typename Map::key_type& key) -> typename Map::mapped_type::element_type* {
    using Record = typename Map::mapped_type::element_type;
    if (const auto it = map.find(key); it != map.end()) return it->second.get();
    typename Map::mapped_type made(new (std::nothrow) Record());
    return made ? map.emplace(key, std::move(made)).first->second.get() : nullptr;
}

// Runs a select on a connection of its own to the user database and hands each row's
// column texts (NULL as "") to `row`, in query order, until it returns false. true on
// success; on a CSqliteException `failed` gets its code and text (the caller's own log
// line), the query and the connection close and the result is false. Rows handed over
// before stay handed over.
bool SelectEachRow(const std::wstring& sql, const std::function<bool(const std::vector<std::wstring>& row)>& row,
                   const std::function<void(int errorCode, const wchar_t* errorMessage)>& failed);
// SelectEachRow with the usual failure line: "CSqliteException[%s]:[%d][%s]" with
// shortName at Message. 1 on success, else 0.
int SelectOwnConnection(const wchar_t* function, const wchar_t* shortName, const std::wstring& sql,
                        const std::function<bool(const std::vector<std::wstring>& row)>& row);

// A script object with these keys and values, in this order.
uie::value MakeObject(std::initializer_list<std::pair<const wchar_t*, uie::value>> members);

// What a dictionary keeps about its one load: the flag (1 once loaded), the tick count
// of the load and a last number that the load sets to -1.
struct DictionaryLoad {
    std::atomic<int> loaded{0};
    std::atomic<DWORD> loadTick{0};
    std::atomic<int> lastNo{0};

    // Marks the load; false when the dictionary was loaded before. Its records are
    // handed out by pointer and live until the process ends, so they load once.
    bool Begin();
};

// A read-only property that reads one field through the global at read time, so a
// page always sees the latest record. Owner::GetField copies the field under its lock.
template <class Owner, class Record, class T>
uie::NativeProperty FieldProperty(const char* name, Owner* const& global, T Record::*field) {
    return {name,
            [&global, field](HVM, const uie::NativeArgs&) {
                const Owner* owner = global;
                return owner != nullptr ? uie::value(owner->GetField(field)) : uie::value(T{});
            },
            {}};
}

}  // namespace records
