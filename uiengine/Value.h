// Script values: the one value type that crosses between pages and native code.
// Arrays and maps are held by value (copies are deep), so a value can be handed to
// another thread; functions and native objects are references.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "EngineConstants.h"
#include "WinTypes.h"

namespace uie {

enum value_type : UINT {
    VT_UNDEFINED,
    VT_NULL,
    VT_BOOL,
    VT_INT,
    VT_FLOAT,
    VT_STRING,
    VT_BYTES,
    VT_ARRAY,
    VT_MAP,
    VT_FUNCTION,
    VT_SYMBOL,
    VT_OBJECT,
};

class value;
struct ObjectBody;  // a native class instance, see ScriptVM.h
namespace detail {
struct ScriptFunction;  // a page script's function held by native code
}

// A callable handed to native code by a page (or by a test standing in for one).
struct FunctionRef {
    std::string name;
    std::function<value(std::span<const value>)> fn;
    std::shared_ptr<const detail::ScriptFunction> script;  // set for a page script's function
};

class value {
public:
    using array_t = std::vector<value>;
    using map_t = std::vector<std::pair<value, value>>;  // insertion order is kept
    using bytes_t = std::vector<std::uint8_t>;

    value() = default;
    value(bool b) : v_(b) {}
    value(int i) : v_(static_cast<std::int32_t>(i)) {}
    value(double d) : v_(d) {}
    value(std::wstring s) : v_(std::move(s)) {}
    value(std::wstring_view s) : v_(std::wstring(s)) {}
    value(const wchar_t* s) : v_(std::wstring(s != nullptr ? s : L"")) {}
    value(const char*) = delete;  // would silently become a bool; use from_utf8

    static value null();
    static value from_bytes(bytes_t bytes);
    static value make_array(array_t items = {});
    static value make_map();
    static value symbol(std::wstring_view name);
    static value function(std::string name, std::function<value(std::span<const value>)> fn,
                          std::shared_ptr<const detail::ScriptFunction> script = {});
    static value object(std::shared_ptr<ObjectBody> body);
    // UTF-8 text; the program's narrow strings are converted where they are read.
    static value from_utf8(std::string_view s);
    // A text kept once for the process and shared by every copy, which then allocates
    // nothing: for the keys of maps made over and over. It reads as a string like any other.
    // Meant for a program's fixed names; past kMaxInterned texts an ordinary string is made.
    static value interned(std::wstring_view text);
    static constexpr std::size_t kMaxInterned = 4096;

    value_type type() const {
        const std::size_t i = v_.index();
        return i == kInternedIndex ? VT_STRING : static_cast<value_type>(i);
    }
    bool is_undefined() const { return type() == VT_UNDEFINED; }
    bool is_null() const { return type() == VT_NULL; }
    bool is_bool() const { return type() == VT_BOOL; }
    bool is_int() const { return type() == VT_INT; }
    bool is_float() const { return type() == VT_FLOAT; }
    bool is_string() const { return type() == VT_STRING; }
    bool is_bytes() const { return type() == VT_BYTES; }
    bool is_array() const { return type() == VT_ARRAY; }
    bool is_map() const { return type() == VT_MAP; }
    bool is_function() const { return type() == VT_FUNCTION; }
    bool is_symbol() const { return type() == VT_SYMBOL; }
    bool is_object() const { return type() == VT_OBJECT; }

    // Each getter gives the fallback when the value is of another kind.
    bool get_bool(bool fallback = false) const;
    int get_int(int fallback = 0) const;
    double get_double(double fallback = 0.0) const;  // ints widen
    std::wstring get_string(std::wstring_view fallback = {}) const;  // strings and symbols
    const std::wstring* string_ptr() const;  // null unless a string or symbol
    const bytes_t* bytes_ptr() const;
    const FunctionRef* function_ptr() const;
    const std::shared_ptr<ObjectBody>* object_ptr() const;

    // Arrays and maps. length() is 0 for every other kind.
    std::size_t length() const;
    // Array item, or the n-th value of a map; undefined when out of range.
    value nth(std::size_t n) const;
    // Array items; an undefined value becomes an array, which grows with undefined.
    bool set_nth(std::size_t n, value v);
    bool append(value v);
    // Map entries; an undefined value becomes a map. Replacing keeps the key's place.
    value get_item(const value& key) const;
    bool has_key(const value& key) const;
    bool set_item(value key, value v);
    // A map entry whose key the map does not hold yet, appended without looking for it (the
    // caller vouches for that); an undefined value becomes a map.
    bool append_item(value key, value v);
    // Room for n items of an array or entries of a map, so that filling it moves nothing.
    void reserve(std::size_t n);
    const array_t* array_ptr() const;
    const map_t* map_ptr() const;
    // For filling a new array or map in place (a map's keys are then the caller's to keep
    // unique); null for every other kind.
    array_t* mutable_array();
    map_t* mutable_map();

    // The simple text form: strings as they are, numbers and booleans in decimal,
    // arrays joined by ",", maps as JSON.
    std::wstring to_string() const;
    // JSON text. Floats always carry a point or exponent, so the int/float kind
    // survives a round trip; undefined, functions and objects print as null,
    // bytes as an array of numbers, symbols as strings.
    std::wstring to_json() const;
    // The same JSON as UTF-8, appended to `out` without a wide copy in between.
    void append_json_utf8(std::string& out) const;
    // Parses JSON (objects keep their key order); nullopt and `error` on failure.
    static std::optional<value> from_json(std::wstring_view text, std::wstring* error = nullptr);

    friend bool operator==(const value& a, const value& b);

private:
    struct null_t {
        friend bool operator==(null_t, null_t) { return true; }
    };
    struct symbol_t {
        std::wstring name;
        friend bool operator==(const symbol_t&, const symbol_t&) = default;
    };
    struct interned_t {
        const std::wstring* text;  // in the process's table, never freed
        friend bool operator==(interned_t, interned_t) = default;
    };
    using function_t = std::shared_ptr<const FunctionRef>;
    using object_t = std::shared_ptr<ObjectBody>;

    // Order follows value_type; an interned text, last, is a VT_STRING.
    std::variant<std::monostate, null_t, bool, std::int32_t, double, std::wstring, bytes_t, array_t, map_t,
                 function_t, symbol_t, object_t, interned_t>
        v_;
    static constexpr std::size_t kInternedIndex = 12;
};

// Reads a page function's result as a number: an int stays, a float is truncated,
// anything else gives 0.
int as_int_or0(const value& v);

}  // namespace uie

using VALUE = uie::value;

// The engine's value operations over VALUE; results are ValueResult codes.
UINT ValueInit(VALUE* pval);
UINT ValueClear(VALUE* pval);
UINT ValueCopy(VALUE* dst, const VALUE* src);
// Ints, and booleans as 0/1.
UINT ValueIntData(const VALUE* pval, int* pData);
// type is uie::VT_INT or uie::VT_BOOL; units are ignored.
UINT ValueIntDataSet(VALUE* pval, int data, UINT type, UINT units);
// The pointer stays valid while the value is neither changed nor destroyed.
UINT ValueStringData(const VALUE* pval, const wchar_t** pChars, UINT* pNumChars);
UINT ValueStringDataSet(VALUE* pval, const wchar_t* chars, UINT numChars, UINT units);
// Replaces the value by its text: TO_STRING_SIMPLE or TO_STRING_JSON.
UINT ValueToString(VALUE* pval, UINT how);
UINT ValueElementsCount(const VALUE* pval, int* pCount);
UINT ValueNthElementValue(const VALUE* pval, int n, VALUE* pRetval);
UINT ValueNthElementValueSet(VALUE* pval, int n, const VALUE* pNew);
// A missing key gives undefined.
UINT ValueGetValueOfKey(const VALUE* pval, const VALUE* pKey, VALUE* pRetval);
UINT ValueSetValueToKey(VALUE* pval, const VALUE* pKey, const VALUE* pNew);
