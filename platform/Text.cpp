#include "Text.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

namespace text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// wchar_t is signed here; a negative value is as invalid as one past U+10FFFF.
char32_t ValidCodePoint(wchar_t c) {
    const auto cp = static_cast<std::uint32_t>(c);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return kReplacement;
    }
    return cp;
}

bool IsAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// iconv descriptors keep shift state and are not safe to share between threads, so each
// thread keeps its own pair, opened on first use.
class AnsiConverters {
    // iconv_open's failure value.
    static iconv_t None() { return reinterpret_cast<iconv_t>(-1); }

public:
    AnsiConverters() {
        toAnsi_ = Open("GBK", "WCHAR_T");
        if (toAnsi_ == None()) {
            toAnsi_ = Open("CP936", "WCHAR_T");
        }
        fromAnsi_ = Open("WCHAR_T", "GBK");
        if (fromAnsi_ == None()) {
            fromAnsi_ = Open("WCHAR_T", "CP936");
        }
    }
    ~AnsiConverters() {
        if (toAnsi_ != None()) {
            iconv_close(toAnsi_);
        }
        if (fromAnsi_ != None()) {
            iconv_close(fromAnsi_);
        }
    }
    AnsiConverters(const AnsiConverters&) = delete;
    AnsiConverters& operator=(const AnsiConverters&) = delete;

    static AnsiConverters& ForThisThread() {
        thread_local AnsiConverters converters;
        return converters;
    }

    std::string ToAnsi(std::wstring_view s) {
        std::string out;
        if (toAnsi_ == None()) {
            for (wchar_t c : s) {
                out += static_cast<std::uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?';
            }
            return out;
        }
        iconv(toAnsi_, nullptr, nullptr, nullptr, nullptr);
        char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(s.data()));
        std::size_t inLeft = s.size() * sizeof(wchar_t);
        char buffer[512];
        while (inLeft > 0) {
            char* o = buffer;
            std::size_t oLeft = sizeof(buffer);
            const std::size_t r = iconv(toAnsi_, &in, &inLeft, &o, &oLeft);
            out.append(buffer, static_cast<std::size_t>(o - buffer));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // Not representable in the code page: one '?' for the character, then go on.
                out += '?';
                in += sizeof(wchar_t);
                inLeft -= sizeof(wchar_t);
                iconv(toAnsi_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

    std::wstring FromAnsi(std::string_view s) {
        std::wstring out;
        if (fromAnsi_ == None()) {
            for (char c : s) {
                const auto b = static_cast<unsigned char>(c);
                out += b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(kReplacement);
            }
            return out;
        }
        iconv(fromAnsi_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(s.data());
        std::size_t inLeft = s.size();
        wchar_t buffer[256];
        while (inLeft > 0) {
            char* o = reinterpret_cast<char*>(buffer);
            std::size_t oLeft = sizeof(buffer);
            const std::size_t r = iconv(fromAnsi_, &in, &inLeft, &o, &oLeft);
            out.append(buffer, static_cast<std::size_t>(o - reinterpret_cast<char*>(buffer)) / sizeof(wchar_t));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // Skip one byte only, so a broken lead byte does not swallow the ASCII after it.
                out += static_cast<wchar_t>(kReplacement);
                ++in;
                --inLeft;
                iconv(fromAnsi_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    static iconv_t Open(const char* to, const char* from) { return iconv_open(to, from); }

    iconv_t toAnsi_ = None();
    iconv_t fromAnsi_ = None();
};

}  // namespace

namespace {

// Hands each UTF-16 unit of s to put, in order: one per code point, two for one above
// the basic plane.
template <class Put>
void EncodeUtf16(std::wstring_view s, Put put) {
    for (wchar_t c : s) {
        const char32_t cp = ValidCodePoint(c);
        if (cp < 0x10000) {
            put(static_cast<char16_t>(cp));
        } else {
            put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
}

// Writes the code points of `units` UTF-16 units (unit(i) gives one) from out on and
// returns the end; a lone surrogate becomes the replacement character. out has room for
// `units` characters.
template <class Unit>
wchar_t* DecodeUtf16(std::size_t units, Unit unit, wchar_t* out) {
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            *out++ = static_cast<wchar_t>(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else {
            *out++ = (u >= 0xD800 && u <= 0xDFFF) ? static_cast<wchar_t>(kReplacement) : static_cast<wchar_t>(u);
        }
    }
    return out;
}

}  // namespace

// All four run over the log file and large pages: one pass, no per-unit appends.
std::u16string ToUtf16(std::wstring_view s) {
    std::u16string out;
    ToUtf16(s, out);
    return out;
}

void ToUtf16(std::wstring_view s, std::u16string& out) {
    out.resize(s.size() * 2);
    char16_t* p = out.data();
    EncodeUtf16(s, [&p](char16_t unit) { *p++ = unit; });
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::wstring FromUtf16(std::u16string_view s) {
    std::wstring out(s.size(), L'\0');
    out.resize(static_cast<std::size_t>(DecodeUtf16(s.size(), [&s](std::size_t i) { return s[i]; }, out.data()) -
                                        out.data()));
    return out;
}

std::string ToUtf16LeBytes(std::wstring_view s) {
    std::string out(s.size() * 4, '\0');
    char* p = out.data();
    EncodeUtf16(s, [&p](char16_t unit) {
        *p++ = static_cast<char>(unit & 0xFF);
        *p++ = static_cast<char>(unit >> 8);
    });
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

std::wstring FromUtf16LeBytes(std::string_view bytes) {
    const auto unit = [&bytes](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    std::wstring out(bytes.size() / 2 + 1, L'\0');
    wchar_t* p = DecodeUtf16(bytes.size() / 2, unit, out.data());
    if (bytes.size() % 2 != 0) *p++ = static_cast<wchar_t>(kReplacement);
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

bool IsAscii(std::wstring_view s) {
    for (wchar_t c : s) {
        if (static_cast<std::uint32_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string ToUtf8(std::wstring_view s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        const char32_t cp = ValidCodePoint(c);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
        } else {
            out += static_cast<wchar_t>(kReplacement);
            ++i;
            continue;
        }
        // The second byte's range also rules out overlong forms, surrogates and values past
        // U+10FFFF; a broken sequence becomes one U+FFFD for its valid prefix.
        std::size_t taken = 1;
        for (; taken < length && i + taken < s.size(); ++taken) {
            const auto b = static_cast<unsigned char>(s[i + taken]);
            unsigned char lo = 0x80;
            unsigned char hi = 0xBF;
            if (taken == 1) {
                if (lead == 0xE0) {
                    lo = 0xA0;
                } else if (lead == 0xED) {
                    hi = 0x9F;
                } else if (lead == 0xF0) {
                    lo = 0x90;
                } else if (lead == 0xF4) {
                    hi = 0x8F;
                }
            }
            if (b < lo || b > hi) {
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        out += static_cast<wchar_t>(taken == length ? cp : kReplacement);
        i += taken;
    }
    return out;
}

std::string ToAnsi(std::wstring_view s) {
    if (IsAscii(s)) {
        return std::string(s.begin(), s.end());
    }
    return AnsiConverters::ForThisThread().ToAnsi(s);
}

std::wstring FromAnsi(std::string_view s) {
    if (IsAscii(s)) {
        return std::wstring(s.begin(), s.end());
    }
    return AnsiConverters::ForThisThread().FromAnsi(s);
}

namespace {

// No single conversion may grow past this many characters.
constexpr std::size_t kMaxPieceChars = std::size_t{1} << 20;

// va_list is an array type on some targets; wrapping it lets helpers take it by reference.
struct ArgList {
    va_list ap;
};

enum class Size { Default, Char, Short, Int32, Int64, Pointer, LongDouble };

struct Directive {
    std::wstring flags;
    int width = -1;
    int precision = -1;
    Size size = Size::Default;
    bool wideOverride = false;  // l or w on %s/%c/%S/%C
    bool narrowOverride = false;  // h on %s/%c/%S/%C
    wchar_t conversion = 0;
};

bool HasFlag(const Directive& directive, wchar_t flag) { return directive.flags.find(flag) != std::wstring::npos; }

// Reads a run of digits, refusing values that no sane format asks for.
bool ReadNumber(const wchar_t*& p, int& value) {
    long long v = 0;
    while (*p >= L'0' && *p <= L'9') {
        v = v * 10 + (*p - L'0');
        if (v > static_cast<long long>(kMaxPieceChars)) {
            return false;
        }
        ++p;
    }
    value = static_cast<int>(v);
    return true;
}

// Parses what follows a '%'; p is left after the conversion character.
bool ParseDirective(const wchar_t*& p, ArgList& args, Directive& directive) {
    while (*p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0') {
        if (!HasFlag(directive, *p)) {
            directive.flags += *p;
        }
        ++p;
    }
    if (*p == L'*') {
        ++p;
        const int w = va_arg(args.ap, int);
        if (w < 0) {
            // A negative width from an argument means left alignment.
            if (w == INT_MIN) {
                return false;
            }
            if (!HasFlag(directive, L'-')) {
                directive.flags += L'-';
            }
            directive.width = -w;
        } else {
            directive.width = w;
        }
    } else if (*p >= L'0' && *p <= L'9') {
        if (!ReadNumber(p, directive.width)) {
            return false;
        }
    }
    if (directive.width > static_cast<int>(kMaxPieceChars)) {
        return false;
    }
    if (*p == L'.') {
        ++p;
        if (*p == L'*') {
            ++p;
            const int precision = va_arg(args.ap, int);
            directive.precision = precision < 0 ? -1 : precision;
        } else {
            directive.precision = 0;
            if (!ReadNumber(p, directive.precision)) {
                return false;
            }
        }
        if (directive.precision > static_cast<int>(kMaxPieceChars)) {
            return false;
        }
    }
    switch (*p) {
    case L'h':
        ++p;
        if (*p == L'h') {
            ++p;
            directive.size = Size::Char;
        } else {
            directive.size = Size::Short;
        }
        directive.narrowOverride = true;
        break;
    case L'l':
        ++p;
        if (*p == L'l') {
            ++p;
            directive.size = Size::Int64;
        } else {
            // long is 32 bits in the program's Windows convention (LONG, DWORD with %lu).
            directive.size = Size::Int32;
            directive.wideOverride = true;
        }
        break;
    case L'w':
        ++p;
        directive.wideOverride = true;
        break;
    case L'L':
        ++p;
        directive.size = Size::LongDouble;
        break;
    case L'q':
    case L'j':
        ++p;
        directive.size = Size::Int64;
        break;
    case L'z':
    case L't':
        ++p;
        directive.size = Size::Pointer;
        break;
    case L'I':
        ++p;
        if (p[0] == L'6' && p[1] == L'4') {
            p += 2;
            directive.size = Size::Int64;
        } else if (p[0] == L'3' && p[1] == L'2') {
            p += 2;
            directive.size = Size::Int32;
        } else {
            directive.size = Size::Pointer;
        }
        break;
    default:
        break;
    }
    if (*p == 0) {
        return false;
    }
    directive.conversion = *p++;
    return true;
}

std::wstring NumberFormat(const Directive& directive, const wchar_t* length, wchar_t conversion) {
    std::wstring f = L"%" + directive.flags;
    if (directive.width >= 0) {
        f += std::to_wstring(directive.width);
    }
    if (directive.precision >= 0) {
        f += L'.';
        f += std::to_wstring(directive.precision);
    }
    f += length;
    f += conversion;
    return f;
}

template <class T>
bool AppendNumber(std::wstring& out, const std::wstring& format, T value) {
    wchar_t small[128];
    int n = std::swprintf(small, std::size(small), format.c_str(), value);
    if (n >= 0) {
        out.append(small, static_cast<std::size_t>(n));
        return true;
    }
    // glibc gives -1 both for "too small" and for real failures; grow until the cap.
    std::vector<wchar_t> big;
    for (std::size_t capacity = 1024; capacity <= kMaxPieceChars + 1; capacity *= 2) {
        big.resize(capacity);
        n = std::swprintf(big.data(), big.size(), format.c_str(), value);
        if (n >= 0) {
            out.append(big.data(), static_cast<std::size_t>(n));
            return true;
        }
    }
    return false;
}

void AppendPadded(std::wstring& out, const Directive& directive, std::wstring_view text) {
    const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    if (HasFlag(directive, L'-')) {
        out += text;
        out.append(pad, L' ');
    } else {
        out.append(pad, HasFlag(directive, L'0') ? L'0' : L' ');
        out += text;
    }
}

bool NarrowArgument(const Directive& directive) {
    const bool upper = directive.conversion == L'S' || directive.conversion == L'C';
    if (directive.narrowOverride) {
        return true;
    }
    if (directive.wideOverride) {
        return false;
    }
    return upper;
}

bool AppendConversion(std::wstring& out, const Directive& directive, ArgList& args) {
    switch (directive.conversion) {
    case L'd':
    case L'i': {
        long long v = 0;
        switch (directive.size) {
        case Size::Char: v = static_cast<signed char>(va_arg(args.ap, int)); break;
        case Size::Short: v = static_cast<short>(va_arg(args.ap, int)); break;
        case Size::Int64: v = va_arg(args.ap, long long); break;
        case Size::Pointer: v = va_arg(args.ap, std::ptrdiff_t); break;
        default: v = va_arg(args.ap, int); break;
        }
        // The plain form is most of what is logged; it needs no printf.
        if (directive.flags.empty() && directive.width < 0 && directive.precision < 0) {
            out += std::to_wstring(v);
            return true;
        }
        return AppendNumber(out, NumberFormat(directive, L"ll", directive.conversion), v);
    }
    case L'u':
    case L'o':
    case L'x':
    case L'X': {
        unsigned long long v = 0;
        switch (directive.size) {
        case Size::Char: v = static_cast<unsigned char>(va_arg(args.ap, unsigned int)); break;
        case Size::Short: v = static_cast<unsigned short>(va_arg(args.ap, unsigned int)); break;
        case Size::Int64: v = va_arg(args.ap, unsigned long long); break;
        case Size::Pointer: v = va_arg(args.ap, std::size_t); break;
        default: v = va_arg(args.ap, unsigned int); break;
        }
        return AppendNumber(out, NumberFormat(directive, L"ll", directive.conversion), v);
    }
    case L'e':
    case L'E':
    case L'f':
    case L'F':
    case L'g':
    case L'G':
    case L'a':
    case L'A':
        // %Lf takes a plain double: long double is double in the program's Windows convention.
        return AppendNumber(out, NumberFormat(directive, L"", directive.conversion), va_arg(args.ap, double));
    case L'p': {
        Directive pointer = directive;
        pointer.precision = static_cast<int>(sizeof(void*) * 2);
        const auto v = reinterpret_cast<std::uintptr_t>(va_arg(args.ap, void*));
        return AppendNumber(out, NumberFormat(pointer, L"ll", L'X'), static_cast<unsigned long long>(v));
    }
    case L'c':
    case L'C': {
        wchar_t c = 0;
        if (NarrowArgument(directive)) {
            const char byte = static_cast<char>(va_arg(args.ap, int));
            const std::wstring w = FromAnsi(std::string_view(&byte, 1));
            c = w.empty() ? static_cast<wchar_t>(kReplacement) : w[0];
        } else {
            c = static_cast<wchar_t>(va_arg(args.ap, unsigned int));
        }
        AppendPadded(out, directive, std::wstring_view(&c, 1));
        return true;
    }
    case L's':
    case L'S': {
        // With a precision the argument may be a fixed field without a NUL: never read past it.
        const std::size_t maxChars =
            directive.precision >= 0 ? static_cast<std::size_t>(directive.precision) : static_cast<std::size_t>(-1);
        if (NarrowArgument(directive)) {
            const char* s = va_arg(args.ap, const char*);
            std::wstring w = s ? FromAnsi(std::string_view(s, strnlen(s, maxChars))) : std::wstring();
            if (w.size() > maxChars) {
                w.resize(maxChars);
            }
            AppendPadded(out, directive, w);
        } else {
            const wchar_t* s = va_arg(args.ap, const wchar_t*);
            AppendPadded(out, directive, s ? std::wstring_view(s, wcsnlen(s, maxChars)) : std::wstring_view());
        }
        return true;
    }
    default:
        // %n is refused as on Windows; anything unknown is a broken format.
        return false;
    }
}

}  // namespace

bool VFormatW(std::wstring& out, std::size_t bufferChars, const wchar_t* format, va_list args) {
    out.clear();
    if (format == nullptr) {
        return false;
    }
    const std::size_t limit = bufferChars == 0 ? 0 : bufferChars - 1;
    ArgList list;
    va_copy(list.ap, args);
    bool ok = true;
    const wchar_t* p = format;
    // Stop once past the limit: the result is cut anyway and the rest need not be built.
    while (*p != 0 && out.size() <= limit) {
        if (*p != L'%') {
            const wchar_t* start = p;
            while (*p != 0 && *p != L'%') {
                ++p;
            }
            out.append(start, static_cast<std::size_t>(p - start));
            continue;
        }
        ++p;
        if (*p == L'%') {
            out += L'%';
            ++p;
            continue;
        }
        Directive directive;
        if (!ParseDirective(p, list, directive) || !AppendConversion(out, directive, list)) {
            ok = false;
            break;
        }
    }
    va_end(list.ap);
    if (out.size() > limit) {
        out.resize(limit);
        ok = false;
    }
    return ok;
}

bool FormatW(std::wstring& out, std::size_t bufferChars, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = VFormatW(out, bufferChars, format, args);
    va_end(args);
    return ok;
}

std::wstring QuoteSql(std::wstring_view s) {
    std::wstring out;
    out.reserve(s.size() + 8);
    for (wchar_t c : s) {
        out += c;
        if (c == L'\'') {
            out += L'\'';
        }
    }
    return out;
}

int WToI(const wchar_t* s) {
    if (s == nullptr) {
        return 0;
    }
    while (*s == L' ' || (*s >= L'\t' && *s <= L'\r')) {
        ++s;
    }
    bool negative = false;
    if (*s == L'+' || *s == L'-') {
        negative = *s == L'-';
        ++s;
    }
    // Saturate one past INT_MAX so that INT_MIN stays reachable.
    constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
    long long v = 0;
    while (*s >= L'0' && *s <= L'9') {
        v = v * 10 + (*s - L'0');
        if (v > kCap) {
            v = kCap;
        }
        ++s;
    }
    if (negative) {
        return static_cast<int>(-v);
    }
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

bool ParseWholeInt(std::wstring_view s, int& out) {
    const auto blank = [](wchar_t c) { return c == L' '; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    const bool negative = !s.empty() && s.front() == L'-';
    if (!s.empty() && (s.front() == L'-' || s.front() == L'+')) s.remove_prefix(1);
    if (s.empty() || s.size() > 10) return false;
    std::int64_t v = 0;
    for (const wchar_t c : s) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + (c - L'0');
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

bool CopyW(wchar_t* dest, std::size_t capacity, std::wstring_view src) {
    if (dest == nullptr || capacity == 0) {
        return false;
    }
    const std::size_t n = src.size() < capacity ? src.size() : capacity - 1;
    std::wmemcpy(dest, src.data(), n);
    dest[n] = 0;
    return n == src.size();
}

bool CopyA(char* dest, std::size_t capacity, std::string_view src) {
    if (dest == nullptr || capacity == 0) {
        return false;
    }
    const std::size_t n = src.size() < capacity ? src.size() : capacity - 1;
    std::memcpy(dest, src.data(), n);
    dest[n] = 0;
    return n == src.size();
}

}  // namespace text
