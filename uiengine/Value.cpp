#include "Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <unordered_set>

#include "ScriptVM.h"
#include "Text.h"

namespace uie {

value value::null() {
    value v;
    v.v_ = null_t{};
    return v;
}

value value::from_bytes(bytes_t bytes) {
    value v;
    v.v_ = std::move(bytes);
    return v;
}

value value::make_array(array_t items) {
    value v;
    v.v_ = std::move(items);
    return v;
}

value value::make_map() {
    value v;
    v.v_ = map_t{};
    return v;
}

value value::symbol(std::wstring_view name) {
    value v;
    v.v_ = symbol_t{std::wstring(name)};
    return v;
}

value value::function(std::string name, std::function<value(std::span<const value>)> fn,
                      std::shared_ptr<const detail::ScriptFunction> script) {
    value v;
    v.v_ = std::make_shared<const FunctionRef>(FunctionRef{std::move(name), std::move(fn), std::move(script)});
    return v;
}

value value::object(std::shared_ptr<ObjectBody> body) {
    value v;
    if (body) v.v_ = std::move(body);
    return v;
}

value value::from_utf8(std::string_view s) { return value(text::FromUtf8(s)); }

value value::interned(std::wstring_view text) {
    struct Table {
        std::mutex mutex;
        std::unordered_set<std::wstring> texts;  // nodes stay put: values point at them
    };
    static Table table;  // values only point into it, and none is read once statics go
    std::lock_guard lock(table.mutex);
    auto it = table.texts.find(std::wstring(text));
    if (it == table.texts.end()) {
        if (table.texts.size() >= kMaxInterned) return value(text);
        it = table.texts.emplace(text).first;
    }
    value v;
    v.v_ = interned_t{&*it};
    return v;
}

bool value::get_bool(bool fallback) const {
    const bool* b = std::get_if<bool>(&v_);
    return b != nullptr ? *b : fallback;
}

int value::get_int(int fallback) const {
    const std::int32_t* i = std::get_if<std::int32_t>(&v_);
    return i != nullptr ? *i : fallback;
}

double value::get_double(double fallback) const {
    if (const double* d = std::get_if<double>(&v_)) return *d;
    if (const std::int32_t* i = std::get_if<std::int32_t>(&v_)) return *i;
    return fallback;
}

std::wstring value::get_string(std::wstring_view fallback) const {
    const std::wstring* s = string_ptr();
    return s != nullptr ? *s : std::wstring(fallback);
}

const std::wstring* value::string_ptr() const {
    if (const auto* s = std::get_if<std::wstring>(&v_)) return s;
    if (const auto* n = std::get_if<interned_t>(&v_)) return n->text;
    if (const auto* sym = std::get_if<symbol_t>(&v_)) return &sym->name;
    return nullptr;
}

const value::bytes_t* value::bytes_ptr() const { return std::get_if<bytes_t>(&v_); }

const FunctionRef* value::function_ptr() const {
    const function_t* f = std::get_if<function_t>(&v_);
    return f != nullptr ? f->get() : nullptr;
}

const std::shared_ptr<ObjectBody>* value::object_ptr() const { return std::get_if<object_t>(&v_); }
const value::array_t* value::array_ptr() const { return std::get_if<array_t>(&v_); }
const value::map_t* value::map_ptr() const { return std::get_if<map_t>(&v_); }
value::array_t* value::mutable_array() { return std::get_if<array_t>(&v_); }
value::map_t* value::mutable_map() { return std::get_if<map_t>(&v_); }

std::size_t value::length() const {
    if (const auto* a = array_ptr()) return a->size();
    if (const auto* m = map_ptr()) return m->size();
    return 0;
}

value value::nth(std::size_t n) const {
    if (const auto* a = array_ptr()) return n < a->size() ? (*a)[n] : value();
    if (const auto* m = map_ptr()) return n < m->size() ? (*m)[n].second : value();
    return value();
}

bool value::set_nth(std::size_t n, value v) {
    if (is_undefined()) v_ = array_t{};
    auto* a = std::get_if<array_t>(&v_);
    if (a == nullptr) return false;
    if (n >= a->size()) a->resize(n + 1);
    (*a)[n] = std::move(v);
    return true;
}

bool value::append(value v) { return set_nth(length(), std::move(v)); }

value value::get_item(const value& key) const {
    if (const auto* m = map_ptr()) {
        for (const auto& [k, v] : *m) {
            if (k == key) return v;
        }
    }
    return value();
}

bool value::has_key(const value& key) const {
    if (const auto* m = map_ptr()) {
        for (const auto& entry : *m) {
            if (entry.first == key) return true;
        }
    }
    return false;
}

bool value::set_item(value key, value v) {
    if (is_undefined()) v_ = map_t{};
    auto* m = std::get_if<map_t>(&v_);
    if (m == nullptr) return false;
    for (auto& entry : *m) {
        if (entry.first == key) {
            entry.second = std::move(v);
            return true;
        }
    }
    m->emplace_back(std::move(key), std::move(v));
    return true;
}

bool value::append_item(value key, value v) {
    if (is_undefined()) v_ = map_t{};
    auto* m = std::get_if<map_t>(&v_);
    if (m == nullptr) return false;
    m->emplace_back(std::move(key), std::move(v));
    return true;
}

void value::reserve(std::size_t n) {
    if (auto* a = std::get_if<array_t>(&v_)) a->reserve(n);
    if (auto* m = std::get_if<map_t>(&v_)) m->reserve(n);
}

bool operator==(const value& a, const value& b) {
    // An interned text equals the same text held by a value of its own.
    if (a.is_string() && b.is_string()) return *a.string_ptr() == *b.string_ptr();
    return a.v_ == b.v_;
}

namespace {

std::wstring Widen(std::string_view s) { return std::wstring(s.begin(), s.end()); }

// Decimal text of a number in `buf` (swprintf's locale work is slow); for a double the
// shortest that reads back as the same double.
template <typename T>
std::string_view FormatNumber(T n, char (&buf)[64]) {
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    if (ec != std::errc()) return "0";
    return std::string_view(buf, static_cast<std::size_t>(end - buf));
}

template <typename T>
std::wstring FormatNumber(T n) {
    char buf[64];
    return Widen(FormatNumber(n, buf));
}

// JSON text goes to a wide string, or as UTF-8 to a narrow one (the page-call trace).
void PutAscii(std::wstring& out, std::string_view s) { out.append(s.begin(), s.end()); }
void PutAscii(std::string& out, std::string_view s) { out += s; }
void PutText(std::wstring& out, std::wstring_view s) { out += s; }
void PutText(std::string& out, std::wstring_view s) {
    if (text::IsAscii(s)) {
        out.append(s.begin(), s.end());
    } else {
        out += text::ToUtf8(s);
    }
}

// JSON's one-letter escapes: the letter after the backslash and what it stands for.
constexpr std::pair<wchar_t, wchar_t> kEscapes[] = {{L'"', L'"'},  {L'\\', L'\\'}, {L'/', L'/'},  {L'b', L'\b'},
                                                    {L'f', L'\f'}, {L'n', L'\n'},   {L'r', L'\r'}, {L't', L'\t'}};

// The escape of a character that needs one in JSON text; empty for any other.
std::string_view EscapeOf(wchar_t c, char (&buf)[8]) {
    if (c != L'"' && c != L'\\' && static_cast<std::uint32_t>(c) >= 0x20) return {};
    auto esc = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                            [c](const auto& e) { return e.second == c && c != L'/'; });
    if (esc != std::end(kEscapes)) {
        buf[0] = '\\';
        buf[1] = static_cast<char>(esc->first);
        return std::string_view(buf, 2);
    }
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
    return std::string_view(buf, 6);
}

template <typename Out>
void AppendJsonString(Out& out, std::wstring_view s) {
    PutAscii(out, "\"");
    std::size_t plain = 0;  // start of the characters not yet put, none of which needs an escape
    for (std::size_t i = 0; i < s.size(); ++i) {
        char buf[8];
        const std::string_view escape = EscapeOf(s[i], buf);
        if (escape.empty()) continue;
        PutText(out, s.substr(plain, i - plain));
        PutAscii(out, escape);
        plain = i + 1;
    }
    PutText(out, s.substr(plain));
    PutAscii(out, "\"");
}

template <typename Out>
void AppendJson(Out& out, const value& v) {
    char buf[64];
    switch (v.type()) {
        case VT_BOOL: PutAscii(out, v.get_bool() ? "true" : "false"); return;
        case VT_INT: PutAscii(out, FormatNumber(v.get_int(), buf)); return;
        case VT_FLOAT: {
            const double d = v.get_double();
            if (!std::isfinite(d)) {
                PutAscii(out, "null");
                return;
            }
            const std::string_view s = FormatNumber(d, buf);
            PutAscii(out, s);
            if (s.find_first_of(".eE") == std::string_view::npos) PutAscii(out, ".0");
            return;
        }
        case VT_STRING:
        case VT_SYMBOL: AppendJsonString(out, *v.string_ptr()); return;
        case VT_BYTES: {
            PutAscii(out, "[");
            const auto& bytes = *v.bytes_ptr();
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (i != 0) PutAscii(out, ",");
                PutAscii(out, FormatNumber(bytes[i], buf));
            }
            PutAscii(out, "]");
            return;
        }
        case VT_ARRAY: {
            PutAscii(out, "[");
            const auto& items = *v.array_ptr();
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i != 0) PutAscii(out, ",");
                AppendJson(out, items[i]);
            }
            PutAscii(out, "]");
            return;
        }
        case VT_MAP: {
            PutAscii(out, "{");
            bool first = true;
            for (const auto& [k, item] : *v.map_ptr()) {
                if (!first) PutAscii(out, ",");
                first = false;
                if (k.is_string() || k.is_symbol()) {
                    AppendJsonString(out, *k.string_ptr());
                } else {
                    AppendJsonString(out, k.to_string());
                }
                PutAscii(out, ":");
                AppendJson(out, item);
            }
            PutAscii(out, "}");
            return;
        }
        default: PutAscii(out, "null"); return;
    }
}

class JsonParser {
public:
    explicit JsonParser(std::wstring_view text) : s_(text) {}

    std::optional<value> Parse(std::wstring* error) {
        value v;
        bool ok = ParseValue(v, 0);
        SkipBlanks();
        if (ok && pos_ != s_.size()) ok = Fail(L"unexpected text after the value");
        if (!ok) {
            if (error != nullptr) *error = error_ + L" at offset " + std::to_wstring(pos_);
            return std::nullopt;
        }
        return v;
    }

private:
    static constexpr int kMaxDepth = 256;

    bool Fail(const wchar_t* what) {
        if (error_.empty()) error_ = what;
        return false;
    }

    void SkipBlanks() {
        while (pos_ < s_.size() && (s_[pos_] == L' ' || s_[pos_] == L'\t' || s_[pos_] == L'\n' || s_[pos_] == L'\r')) {
            ++pos_;
        }
    }

    bool Literal(std::wstring_view word) {
        if (s_.substr(pos_, word.size()) != word) return Fail(L"unknown literal");
        pos_ += word.size();
        return true;
    }

    bool ParseValue(value& out, int depth) {
        if (depth > kMaxDepth) return Fail(L"nested too deeply");
        SkipBlanks();
        if (pos_ >= s_.size()) return Fail(L"unexpected end");
        wchar_t c = s_[pos_];
        if (c == L'{') return ParseObject(out, depth);
        if (c == L'[') return ParseArray(out, depth);
        if (c == L'"') {
            std::wstring str;
            if (!ParseString(str)) return false;
            out = value(std::move(str));
            return true;
        }
        if (c == L't') {
            out = value(true);
            return Literal(L"true");
        }
        if (c == L'f') {
            out = value(false);
            return Literal(L"false");
        }
        if (c == L'n') {
            out = value::null();
            return Literal(L"null");
        }
        return ParseNumber(out);
    }

    bool ParseObject(value& out, int depth) {
        ++pos_;
        out = value::make_map();
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == L'}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != L'"') return Fail(L"expected a key");
            std::wstring key;
            if (!ParseString(key)) return false;
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != L':') return Fail(L"expected ':'");
            ++pos_;
            value item;
            if (!ParseValue(item, depth + 1)) return false;
            out.set_item(value(std::move(key)), std::move(item));
            SkipBlanks();
            if (pos_ < s_.size() && s_[pos_] == L',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == L'}') {
                ++pos_;
                return true;
            }
            return Fail(L"expected ',' or '}'");
        }
    }

    bool ParseArray(value& out, int depth) {
        ++pos_;
        value::array_t items;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == L']') {
            ++pos_;
            out = value::make_array();
            return true;
        }
        for (;;) {
            value item;
            if (!ParseValue(item, depth + 1)) return false;
            items.push_back(std::move(item));
            SkipBlanks();
            if (pos_ < s_.size() && s_[pos_] == L',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == L']') {
                ++pos_;
                out = value::make_array(std::move(items));
                return true;
            }
            return Fail(L"expected ',' or ']'");
        }
    }

    bool Hex4(std::uint32_t& code) {
        if (pos_ + 4 > s_.size()) return Fail(L"short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            wchar_t h = s_[pos_++];
            code <<= 4;
            if (h >= L'0' && h <= L'9') code |= static_cast<std::uint32_t>(h - L'0');
            else if (h >= L'a' && h <= L'f') code |= static_cast<std::uint32_t>(h - L'a' + 10);
            else if (h >= L'A' && h <= L'F') code |= static_cast<std::uint32_t>(h - L'A' + 10);
            else return Fail(L"bad \\u escape");
        }
        return true;
    }

    bool ParseString(std::wstring& out) {
        ++pos_;
        while (pos_ < s_.size()) {
            wchar_t c = s_[pos_++];
            if (c == L'"') return true;
            if (c != L'\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) break;
            wchar_t e = s_[pos_++];
            auto esc = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                    [e](const auto& pair) { return pair.first == e; });
            if (esc != std::end(kEscapes)) {
                out += esc->second;
                continue;
            }
            if (e != L'u') return Fail(L"bad escape");
            std::uint32_t code = 0;
            if (!Hex4(code)) return false;
            // A surrogate pair becomes one character (wide strings hold code points).
            if (code >= 0xD800 && code < 0xDC00 && s_.substr(pos_, 2) == L"\\u") {
                std::size_t save = pos_;
                pos_ += 2;
                std::uint32_t low = 0;
                if (!Hex4(low)) return false;
                if (low >= 0xDC00 && low < 0xE000) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    pos_ = save;
                }
            }
            if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
            out += static_cast<wchar_t>(code);
        }
        return Fail(L"unterminated string");
    }

    bool ParseNumber(value& out) {
        std::size_t start = pos_;
        bool isFloat = false;
        if (pos_ < s_.size() && s_[pos_] == L'-') ++pos_;
        std::size_t digits = pos_;
        while (pos_ < s_.size() && s_[pos_] >= L'0' && s_[pos_] <= L'9') ++pos_;
        if (pos_ == digits) return Fail(L"unexpected character");
        if (pos_ < s_.size() && s_[pos_] == L'.') {
            isFloat = true;
            ++pos_;
            std::size_t frac = pos_;
            while (pos_ < s_.size() && s_[pos_] >= L'0' && s_[pos_] <= L'9') ++pos_;
            if (pos_ == frac) return Fail(L"bad number");
        }
        if (pos_ < s_.size() && (s_[pos_] == L'e' || s_[pos_] == L'E')) {
            isFloat = true;
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == L'+' || s_[pos_] == L'-')) ++pos_;
            std::size_t exp = pos_;
            while (pos_ < s_.size() && s_[pos_] >= L'0' && s_[pos_] <= L'9') ++pos_;
            if (pos_ == exp) return Fail(L"bad number");
        }
        // Only ASCII digits, signs, points and exponents reach here.
        std::string narrow;
        for (std::size_t i = start; i < pos_; ++i) narrow += static_cast<char>(s_[i]);
        const char* first = narrow.data();
        const char* last = first + narrow.size();
        if (!isFloat) {
            long long n = 0;
            auto [end, ec] = std::from_chars(first, last, n);
            if (ec == std::errc() && end == last && n >= std::numeric_limits<std::int32_t>::min() &&
                n <= std::numeric_limits<std::int32_t>::max()) {
                out = value(static_cast<int>(n));
                return true;
            }
        }
        double d = 0;
        auto [end, ec] = std::from_chars(first, last, d);
        if (ec != std::errc() || end != last) return Fail(L"bad number");
        out = value(d);
        return true;
    }

    std::wstring_view s_;
    std::size_t pos_ = 0;
    std::wstring error_;
};

}  // namespace

std::wstring value::to_string() const {
    switch (type()) {
        case VT_UNDEFINED: return L"undefined";
        case VT_NULL: return L"null";
        case VT_BOOL: return get_bool() ? L"true" : L"false";
        case VT_INT: return FormatNumber(get_int());
        case VT_FLOAT: return FormatNumber(get_double());
        case VT_STRING:
        case VT_SYMBOL: return *string_ptr();
        case VT_BYTES: return L"[bytes " + std::to_wstring(bytes_ptr()->size()) + L"]";
        case VT_ARRAY: {
            std::wstring out;
            const auto& items = *array_ptr();
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i != 0) out += L',';
                out += items[i].to_string();
            }
            return out;
        }
        case VT_MAP: return to_json();
        case VT_FUNCTION: return L"[function " + text::FromUtf8(function_ptr()->name) + L"]";
        case VT_OBJECT: return L"[object " + text::FromUtf8(ClassName(*this)) + L"]";
    }
    return {};
}

std::wstring value::to_json() const {
    std::wstring out;
    AppendJson(out, *this);
    return out;
}

void value::append_json_utf8(std::string& out) const { AppendJson(out, *this); }

std::optional<value> value::from_json(std::wstring_view text, std::wstring* error) {
    return JsonParser(text).Parse(error);
}

int as_int_or0(const value& v) {
    if (v.is_int()) return v.get_int();
    if (v.is_float()) {
        double d = v.get_double();
        // Truncation toward zero; out-of-range floats would be undefined behaviour.
        if (!(d > -2147483649.0 && d < 2147483648.0)) return 0;
        return static_cast<int>(d);
    }
    return 0;
}

}  // namespace uie

using uie::value;

UINT ValueInit(VALUE* pval) {
    if (pval == nullptr) return VALUE_BAD_PARAMETER;
    *pval = value();
    return VALUE_OK;
}

UINT ValueClear(VALUE* pval) { return ValueInit(pval); }

UINT ValueCopy(VALUE* dst, const VALUE* src) {
    if (dst == nullptr || src == nullptr) return VALUE_BAD_PARAMETER;
    if (dst != src) *dst = *src;
    return VALUE_OK;
}

UINT ValueIntData(const VALUE* pval, int* pData) {
    if (pval == nullptr || pData == nullptr) return VALUE_BAD_PARAMETER;
    if (pval->is_int()) {
        *pData = pval->get_int();
    } else if (pval->is_bool()) {
        *pData = pval->get_bool() ? 1 : 0;
    } else {
        return VALUE_INCOMPATIBLE_TYPE;
    }
    return VALUE_OK;
}

UINT ValueIntDataSet(VALUE* pval, int data, UINT type, UINT) {
    if (pval == nullptr) return VALUE_BAD_PARAMETER;
    if (type == uie::VT_BOOL) {
        *pval = value(data != 0);
    } else if (type == uie::VT_INT) {
        *pval = value(data);
    } else {
        return VALUE_INCOMPATIBLE_TYPE;
    }
    return VALUE_OK;
}

UINT ValueStringData(const VALUE* pval, const wchar_t** pChars, UINT* pNumChars) {
    if (pval == nullptr || pChars == nullptr) return VALUE_BAD_PARAMETER;
    const std::wstring* s = pval->string_ptr();
    if (s == nullptr || !pval->is_string()) return VALUE_INCOMPATIBLE_TYPE;
    *pChars = s->c_str();
    if (pNumChars != nullptr) *pNumChars = static_cast<UINT>(s->size());
    return VALUE_OK;
}

UINT ValueStringDataSet(VALUE* pval, const wchar_t* chars, UINT numChars, UINT) {
    if (pval == nullptr) return VALUE_BAD_PARAMETER;
    *pval = value(chars != nullptr ? std::wstring(chars, numChars) : std::wstring());
    return VALUE_OK;
}

UINT ValueToString(VALUE* pval, UINT how) {
    if (pval == nullptr) return VALUE_BAD_PARAMETER;
    if (how == TO_STRING_SIMPLE) {
        *pval = value(pval->to_string());
    } else if (how == TO_STRING_JSON) {
        *pval = value(pval->to_json());
    } else {
        return VALUE_BAD_PARAMETER;
    }
    return VALUE_OK;
}

UINT ValueElementsCount(const VALUE* pval, int* pCount) {
    if (pval == nullptr || pCount == nullptr) return VALUE_BAD_PARAMETER;
    *pCount = static_cast<int>(pval->length());
    return VALUE_OK;
}

UINT ValueNthElementValue(const VALUE* pval, int n, VALUE* pRetval) {
    if (pval == nullptr || pRetval == nullptr) return VALUE_BAD_PARAMETER;
    if (!pval->is_array() && !pval->is_map()) return VALUE_INCOMPATIBLE_TYPE;
    if (n < 0 || static_cast<std::size_t>(n) >= pval->length()) {
        *pRetval = value();
        return VALUE_BAD_PARAMETER;
    }
    *pRetval = pval->nth(static_cast<std::size_t>(n));
    return VALUE_OK;
}

UINT ValueNthElementValueSet(VALUE* pval, int n, const VALUE* pNew) {
    if (pval == nullptr || pNew == nullptr || n < 0) return VALUE_BAD_PARAMETER;
    return pval->set_nth(static_cast<std::size_t>(n), *pNew) ? VALUE_OK : VALUE_INCOMPATIBLE_TYPE;
}

UINT ValueGetValueOfKey(const VALUE* pval, const VALUE* pKey, VALUE* pRetval) {
    if (pval == nullptr || pKey == nullptr || pRetval == nullptr) return VALUE_BAD_PARAMETER;
    if (!pval->is_map()) return VALUE_INCOMPATIBLE_TYPE;
    *pRetval = pval->get_item(*pKey);
    return VALUE_OK;
}

UINT ValueSetValueToKey(VALUE* pval, const VALUE* pKey, const VALUE* pNew) {
    if (pval == nullptr || pKey == nullptr || pNew == nullptr) return VALUE_BAD_PARAMETER;
    return pval->set_item(*pKey, *pNew) ? VALUE_OK : VALUE_INCOMPATIBLE_TYPE;
}
