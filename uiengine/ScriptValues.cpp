#include "internal/ScriptValues.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "Text.h"
#include "internal/NativeBinding.h"
#include "internal/ScriptFunction.h"
#include "internal/ScriptHeap.h"

namespace uie::detail {
namespace {

// Duktape marks a global symbol (Symbol.for) by this first byte, a local one by 0x81.
constexpr unsigned char kGlobalSymbol = 0x80;
constexpr unsigned char kSymbolEnd = 0xFF;  // a local symbol's description ends here

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c < 0xE000; }

// ---- texts ------------------------------------------------------------------------------

std::size_t EncodedSize(std::uint32_t c) {
    if (c < 0x80) return 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    return c <= 0x10FFFF ? 6 : 3;  // a pair of surrogates; past Unicode U+FFFD
}

char* PutUnit(char* out, std::uint32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

char* PutChar(char* out, std::uint32_t c) {
    if (c > 0x10FFFF) return PutUnit(out, 0xFFFD);
    if (c < 0x10000) return PutUnit(out, c);
    c -= 0x10000;
    out = PutUnit(out, 0xD800 + (c >> 10));
    return PutUnit(out, 0xDC00 + (c & 0x3FF));
}

std::size_t EncodedSize(std::wstring_view s) {
    std::size_t n = 0;
    for (const wchar_t c : s) n += EncodedSize(static_cast<std::uint32_t>(c));
    return n;
}

void Encode(std::wstring_view s, char* out) {
    for (const wchar_t c : s) out = PutChar(out, static_cast<std::uint32_t>(c));
}

// One character of Duktape's extended UTF-8 at s[i]; U+FFFD for a byte that starts none.
std::uint32_t NextChar(std::string_view s, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(s[i++]);
    int more = 0;
    std::uint32_t c = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
        more = 3;
        c = lead & 0x07;
    } else if (lead >= 0xE0) {
        more = lead < 0xF0 ? 2 : -1;
        c = lead & 0x0F;
    } else if (lead >= 0xC0) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0x80) {
        more = -1;
    }
    if (more < 0) return 0xFFFD;
    for (; more > 0; --more) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return c;
}

// Code units to characters: a high surrogate followed by a low one is one character; a
// lone surrogate stays what it is, as in UTF-16.
template <typename Out>
void Decode(std::string_view s, Out&& put) {
    std::size_t i = 0;
    while (i < s.size()) {
        std::uint32_t c = NextChar(s, i);
        if (IsHighSurrogate(c) && i < s.size()) {
            std::size_t j = i;
            const std::uint32_t low = NextChar(s, j);
            if (IsLowSurrogate(low)) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i = j;
            }
        }
        put(c);
    }
}

// Pushes a text made of `prefix` bytes and `s` without a C++ string in between, so that a
// failing push skips nothing.
void PushPrefixedText(duk_context* ctx, std::string_view prefix, std::wstring_view s) {
    auto* out = static_cast<char*>(duk_push_fixed_buffer(ctx, prefix.size() + EncodedSize(s)));
    if (!prefix.empty()) std::memcpy(out, prefix.data(), prefix.size());
    Encode(s, out + prefix.size());
    duk_buffer_to_string(ctx, -1);
}

[[noreturn]] void Refuse(duk_context* ctx, const char* why) {
    duk_error_raw(ctx, DUK_ERR_RANGE_ERROR, nullptr, 0, "%s", why);
    std::abort();  // duk_error_raw does not return
}

// ---- script to native ----------------------------------------------------------------------

struct Budget {
    std::size_t units = 0;
};

void Spend(duk_context* ctx, Budget& b, std::size_t units) {
    b.units += units;
    if (b.units > kMaxValueUnits) Refuse(ctx, "value too large for native code");
}

void ReadNumber(duk_context* ctx, duk_idx_t idx, value& out) {
    const double d = duk_get_number(ctx, idx);
    // In range first: only then may the double be cast to an int (NaN fails both tests).
    if (d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max()) {
        const auto i = static_cast<std::int32_t>(d);
        if (i == d && !(i == 0 && std::signbit(d))) {
            out = value(i);
            return;
        }
    }
    out = value(d);
}

void ReadText(duk_context* ctx, duk_idx_t idx, value& out, Budget& b) {
    duk_size_t bytes = 0;
    const char* p = duk_get_lstring(ctx, idx, &bytes);
    if (duk_is_symbol(ctx, idx)) {
        std::string_view s(p, bytes);
        s.remove_prefix(1);
        s = s.substr(0, s.find(static_cast<char>(kSymbolEnd)));
        out = value::symbol(FromScriptText(s));
        return;
    }
    // Each character takes at least one byte, a surrogate pair six for one wchar_t.
    if (bytes / 6 > kMaxTextChars) Refuse(ctx, "text too long for native code");
    out = value(FromScriptText(std::string_view(p, bytes)));
    const std::size_t chars = out.string_ptr()->size();
    if (chars > kMaxTextChars) {
        out = value();
        Refuse(ctx, "text too long for native code");
    }
    Spend(ctx, b, chars);
}

void ReadBytes(duk_context* ctx, duk_idx_t idx, value& out, Budget& b) {
    duk_size_t size = 0;
    const auto* p = static_cast<const std::uint8_t*>(duk_get_buffer_data(ctx, idx, &size));
    Spend(ctx, b, size);
    out = value::from_bytes(value::bytes_t(p, p + size));
}

void Read(duk_context* ctx, duk_idx_t idx, value& out, Budget& b, int depth);

void ReadArray(duk_context* ctx, duk_idx_t idx, value& out, Budget& b, int depth) {
    const duk_size_t n = duk_get_length(ctx, idx);
    Spend(ctx, b, n);
    out = value::make_array(value::array_t(n));
    value::array_t& items = *out.mutable_array();
    for (duk_size_t i = 0; i < n; ++i) {
        duk_get_prop_index(ctx, idx, static_cast<duk_uarridx_t>(i));
        Read(ctx, -1, items[i], b, depth + 1);
        duk_pop(ctx);
    }
}

void ReadMap(duk_context* ctx, duk_idx_t idx, value& out, Budget& b, int depth) {
    out = value::make_map();
    value::map_t& entries = *out.mutable_map();
    duk_enum(ctx, idx, DUK_ENUM_OWN_PROPERTIES_ONLY);
    while (duk_next(ctx, -1, 1)) {
        duk_size_t bytes = 0;
        const char* key = duk_get_lstring(ctx, -2, &bytes);
        Spend(ctx, b, bytes + 1);
        entries.emplace_back(value(FromScriptText(std::string_view(key, bytes))), value());
        Read(ctx, -1, entries.back().second, b, depth + 1);
        duk_pop_2(ctx);
    }
    duk_pop(ctx);
}

// Room on the value stack for one level of an array or a map, read or pushed: reading a
// value reserves none of its own, as pushing one does.
constexpr duk_idx_t kStackPerLevel = 4;

// An array or a map at `depth` (the arrays and maps around it) may hold more.
void EnterLevel(duk_context* ctx, int depth, const char* refusal) {
    if (depth >= kMaxValueDepth) Refuse(ctx, refusal);
    duk_require_stack(ctx, kStackPerLevel);
}

void Read(duk_context* ctx, duk_idx_t idx, value& out, Budget& b, int depth) {
    Spend(ctx, b, 1);
    idx = duk_normalize_index(ctx, idx);
    switch (duk_get_type(ctx, idx)) {
        case DUK_TYPE_NULL: out = value::null(); return;
        case DUK_TYPE_BOOLEAN: out = value(duk_get_boolean(ctx, idx) != 0); return;
        case DUK_TYPE_NUMBER: ReadNumber(ctx, idx, out); return;
        case DUK_TYPE_STRING: ReadText(ctx, idx, out, b); return;
        case DUK_TYPE_BUFFER: ReadBytes(ctx, idx, out, b); return;
        case DUK_TYPE_LIGHTFUNC: out = MakeFunctionValue(ctx, idx); return;
        case DUK_TYPE_OBJECT: break;
        default: out = value(); return;  // undefined, and pointers, which no page can make
    }
    if (const value* instance = NativeBinding::InstanceAt(ctx, idx)) {
        out = *instance;
    } else if (const value* fn = NativeBinding::NativeFunctionAt(ctx, idx)) {
        out = *fn;
    } else if (duk_is_function(ctx, idx)) {
        out = MakeFunctionValue(ctx, idx);
    } else if (duk_is_buffer_data(ctx, idx)) {
        ReadBytes(ctx, idx, out, b);
    } else {
        EnterLevel(ctx, depth, "value nested too deep for native code");
        if (duk_is_array(ctx, idx)) {
            ReadArray(ctx, idx, out, b, depth);
        } else {
            ReadMap(ctx, idx, out, b, depth);
        }
    }
}

// ---- native to script -------------------------------------------------------------------

void Push(duk_context* ctx, const value& v, int depth);

void PushMap(duk_context* ctx, const value::map_t& entries, int depth) {
    duk_push_object(ctx);
    for (const auto& [key, item] : entries) {
        if (const std::wstring* name = key.string_ptr(); name != nullptr && key.is_string()) {
            PushPrefixedText(ctx, {}, *name);
        } else {
            Push(ctx, key, depth + 1);
            duk_to_string(ctx, -1);
        }
        Push(ctx, item, depth + 1);
        // Defined, not assigned: a key "__proto__" is a key like any other.
        duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WEC);
    }
}

void Push(duk_context* ctx, const value& v, int depth) {
    if (PushPlainValue(ctx, v)) return;
    if (v.type() == VT_ARRAY || v.type() == VT_MAP) {
        EnterLevel(ctx, depth, "value nested too deep for the script");
    } else {
        duk_require_stack(ctx, kStackPerLevel);
    }
    switch (v.type()) {
        case VT_STRING: PushPrefixedText(ctx, {}, *v.string_ptr()); return;
        case VT_SYMBOL: {
            const char prefix = static_cast<char>(kGlobalSymbol);
            PushPrefixedText(ctx, std::string_view(&prefix, 1), *v.string_ptr());
            return;
        }
        case VT_BYTES: {
            const value::bytes_t& bytes = *v.bytes_ptr();
            void* data = duk_push_fixed_buffer(ctx, bytes.size());
            if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
            duk_push_buffer_object(ctx, -1, 0, bytes.size(), DUK_BUFOBJ_UINT8ARRAY);
            duk_remove(ctx, -2);
            return;
        }
        case VT_ARRAY: {
            duk_push_array(ctx);
            duk_uarridx_t i = 0;
            for (const value& item : *v.array_ptr()) {
                Push(ctx, item, depth + 1);
                duk_put_prop_index(ctx, -2, i++);
            }
            return;
        }
        case VT_MAP: PushMap(ctx, *v.map_ptr(), depth); return;
        case VT_FUNCTION: {
            const FunctionRef* f = v.function_ptr();
            if (f->script && f->script->heap.get() == &ScriptHeap::Of(ctx)) {
                f->script->heap->PushKept(ctx, f->script->slot);  // the page's own function again
            } else {
                NativeBinding::PushNativeFunction(ctx, v);
            }
            return;
        }
        case VT_OBJECT: NativeBinding::PushInstance(ctx, ScriptHeap::Of(ctx), v); return;
        default: duk_push_undefined(ctx); return;
    }
}

}  // namespace

void ReadValue(duk_context* ctx, duk_idx_t idx, value& out) {
    if (ReadPlainValue(ctx, idx, out)) return;  // the commonest, without the budget's bookkeeping
    Budget budget;
    Read(ctx, idx, out, budget, 0);
}

bool ReadPlainValue(duk_context* ctx, duk_idx_t idx, value& out) {
    switch (duk_get_type(ctx, idx)) {
        case DUK_TYPE_UNDEFINED: out = value(); return true;
        case DUK_TYPE_NULL: out = value::null(); return true;
        case DUK_TYPE_BOOLEAN: out = value(duk_get_boolean(ctx, idx) != 0); return true;
        case DUK_TYPE_NUMBER: ReadNumber(ctx, idx, out); return true;
        case DUK_TYPE_STRING: {
            duk_size_t bytes = 0;
            duk_get_lstring(ctx, idx, &bytes);
            if (bytes > kPlainTextBytes) return false;
            Budget budget;
            ReadText(ctx, idx, out, budget);
            return true;
        }
        default: return false;
    }
}

bool PushPlainValue(duk_context* ctx, const value& v) {
    if (v.type() > VT_FLOAT || !duk_check_stack(ctx, 1)) return false;
    switch (v.type()) {
        case VT_NULL: duk_push_null(ctx); break;
        case VT_BOOL: duk_push_boolean(ctx, v.get_bool()); break;
        case VT_INT: duk_push_int(ctx, v.get_int()); break;
        case VT_FLOAT: duk_push_number(ctx, v.get_double()); break;
        default: duk_push_undefined(ctx); break;
    }
    return true;
}

void PushValue(duk_context* ctx, const value& v) { Push(ctx, v, 0); }

void PushText(duk_context* ctx, std::wstring_view s) { PushPrefixedText(ctx, {}, s); }

std::string ToScriptText(std::wstring_view s) {
    // Script texts are mostly ASCII, which is its own encoding.
    if (text::IsAscii(s)) return std::string(s.begin(), s.end());
    std::string out(EncodedSize(s), '\0');
    Encode(s, out.data());
    return out;
}

std::wstring FromScriptText(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    Decode(s, [&out](std::uint32_t c) { out += static_cast<wchar_t>(c); });
    return out;
}

}  // namespace uie::detail
