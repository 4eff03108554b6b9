#include "Profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "Text.h"

namespace fs = std::filesystem;

namespace {

// One lock for every profile file: a write is read-modify-write of the whole file, and
// readers must not interleave with it.
std::mutex& ProfileMutex() {
    static std::mutex mutex;
    return mutex;
}

enum class Encoding { Ansi, Utf8, Utf16Le };

struct Line {
    std::wstring text;
    // The bytes as read, without the line end: untouched lines are written back from them,
    // so bytes the code page cannot decode survive a write to another line.
    std::string raw;
    bool edited = false;
};

struct Document {
    Encoding encoding = Encoding::Utf16Le;
    std::vector<Line> lines;
};

enum class LoadStatus { Loaded, Missing, Failed };

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::wstring name;
    std::wstring value;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f'; }

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

wchar_t Fold(wchar_t c) {
    if (c >= L'A' && c <= L'Z') {
        return static_cast<wchar_t>(c - L'A' + L'a');
    }
    if (c < 0x80) {
        return c;
    }
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

Parsed Parse(std::wstring_view line) {
    Parsed p;
    const std::wstring_view t = Trim(line);
    if (t.empty() || t.front() == L';') {
        return p;
    }
    if (t.front() == L'[') {
        const std::size_t close = t.find(L']');
        if (close != std::wstring_view::npos) {
            p.kind = Kind::Section;
            p.name = Trim(t.substr(1, close - 1));
        }
        return p;
    }
    const std::size_t equals = t.find(L'=');
    if (equals == std::wstring_view::npos) {
        return p;
    }
    const std::wstring_view key = Trim(t.substr(0, equals));
    if (key.empty()) {
        return p;
    }
    std::wstring_view value = Trim(t.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    p.kind = Kind::Key;
    p.name = key;
    p.value = value;
    return p;
}

std::wstring Decode(Encoding encoding, std::string_view bytes) {
    switch (encoding) {
    case Encoding::Utf16Le: return text::FromUtf16LeBytes(bytes);
    case Encoding::Utf8: return text::FromUtf8(bytes);
    case Encoding::Ansi: break;
    }
    return text::FromAnsi(bytes);
}

std::string Encode(Encoding encoding, std::wstring_view s) {
    switch (encoding) {
    case Encoding::Utf16Le: return text::ToUtf16LeBytes(s);
    case Encoding::Utf8: return text::ToUtf8(s);
    case Encoding::Ansi: break;
    }
    return text::ToAnsi(s);
}

void AddLine(Document& doc, std::string raw) {
    Line line;
    line.text = Decode(doc.encoding, raw);
    if (!line.text.empty() && line.text.back() == L'\r') {
        line.text.pop_back();
        const std::size_t unitBytes = doc.encoding == Encoding::Utf16Le ? 2 : 1;
        if (raw.size() >= unitBytes) raw.erase(raw.size() - unitBytes);
    }
    line.raw = std::move(raw);
    doc.lines.push_back(std::move(line));
}

void SplitLines(Document& doc, std::string_view bytes) {
    // A line feed is never part of a GBK or UTF-8 multi-byte character, so splitting on the
    // raw bytes is safe; UTF-16 is split on whole code units.
    const std::size_t step = doc.encoding == Encoding::Utf16Le ? 2 : 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i + step <= bytes.size(); i += step) {
        const bool lineFeed = bytes[i] == '\n' && (step == 1 || bytes[i + 1] == 0);
        if (lineFeed) {
            AddLine(doc, std::string(bytes.substr(start, i - start)));
            start = i + step;
        }
    }
    if (start < bytes.size()) {
        AddLine(doc, std::string(bytes.substr(start)));
    }
}

fs::path ToPath(const wchar_t* fileName) { return fs::path(text::ToUtf8(fileName)); }

LoadStatus Load(const wchar_t* fileName, Document& doc) {
    if (fileName == nullptr || *fileName == 0) {
        return LoadStatus::Failed;
    }
    const fs::path path = ToPath(fileName);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        return LoadStatus::Missing;
    }
    if (ec || status.type() == fs::file_type::directory) {
        return LoadStatus::Failed;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return LoadStatus::Failed;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return LoadStatus::Failed;
    }
    std::string_view body = bytes;
    if (body.starts_with("\xFF\xFE")) {
        doc.encoding = Encoding::Utf16Le;
        body.remove_prefix(2);
    } else if (body.starts_with("\xEF\xBB\xBF")) {
        doc.encoding = Encoding::Utf8;
        body.remove_prefix(3);
    } else if (body.empty()) {
        // Nothing to keep: an empty file is filled like a new one.
        doc.encoding = Encoding::Utf16Le;
    } else {
        doc.encoding = Encoding::Ansi;
    }
    SplitLines(doc, body);
    return LoadStatus::Loaded;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes a sibling file and renames it over the target, so the file is always either the
// old or the new whole text.
bool ReplaceFile(const fs::path& path, std::string_view bytes) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        fs::path real = fs::canonical(target, ec);
        if (!ec) {
            target = std::move(real);
        }
    }
    struct stat existing {};
    const bool keepMode = ::stat(target.c_str(), &existing) == 0;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");

    static std::atomic<unsigned> counter{0};
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        temp = folder / name;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool ok = (!keepMode || ::fchmod(fd, existing.st_mode & 07777) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

bool Save(const wchar_t* fileName, const Document& doc) {
    std::string bytes;
    if (doc.encoding == Encoding::Utf16Le) {
        bytes = "\xFF\xFE";
    } else if (doc.encoding == Encoding::Utf8) {
        bytes = "\xEF\xBB\xBF";
    }
    const std::string lineEnd = Encode(doc.encoding, L"\r\n");
    for (const Line& line : doc.lines) {
        bytes += line.edited ? Encode(doc.encoding, line.text) : line.raw;
        bytes += lineEnd;
    }
    return ReplaceFile(ToPath(fileName), bytes);
}

Line NewLine(std::wstring text) {
    Line line;
    line.text = std::move(text);
    line.edited = true;
    return line;
}

std::optional<std::wstring> FindValue(const Document& doc, std::wstring_view section, std::wstring_view key) {
    bool inSection = false;
    for (const Line& line : doc.lines) {
        const Parsed p = Parse(line.text);
        if (p.kind == Kind::Section) {
            inSection = SameName(p.name, section);
        } else if (p.kind == Kind::Key && inSection && SameName(p.name, key)) {
            return p.value;
        }
    }
    return std::nullopt;
}

void AddUnique(std::vector<std::wstring>& names, std::wstring name) {
    for (const std::wstring& known : names) {
        if (SameName(known, name)) {
            return;
        }
    }
    names.push_back(std::move(name));
}

// Key names of the section, or the section names when section is null.
std::vector<std::wstring> ListNames(const Document& doc, const wchar_t* section) {
    std::vector<std::wstring> names;
    bool inSection = false;
    for (const Line& line : doc.lines) {
        Parsed p = Parse(line.text);
        if (p.kind == Kind::Section) {
            inSection = section != nullptr && SameName(p.name, section);
            if (section == nullptr) {
                AddUnique(names, std::move(p.name));
            }
        } else if (p.kind == Kind::Key && inSection) {
            AddUnique(names, std::move(p.name));
        }
    }
    return names;
}

std::wstring TrimmedDefault(const wchar_t* defaultValue) {
    std::wstring value = defaultValue ? defaultValue : L"";
    while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) {
        value.pop_back();
    }
    return value;
}

DWORD CopyList(const std::vector<std::wstring>& names, wchar_t* out, DWORD size) {
    std::wstring list;
    for (const std::wstring& name : names) {
        list += name;
        list += L'\0';
    }
    if (list.size() + 1 <= size) {
        list.copy(out, list.size());
        out[list.size()] = 0;
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        out[0] = 0;
        return 0;
    }
    // Cut: the list still ends with two NULs so a reader walking it stops.
    list.copy(out, size - 2);
    out[size - 2] = 0;
    out[size - 1] = 0;
    return size - 2;
}

// Windows reads leading digits the way strtol does: decimal, or hexadecimal after "0x".
UINT ParseProfileInt(std::wstring_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == L'+' || s.front() == L'-')) {
        negative = s.front() == L'-';
        s.remove_prefix(1);
    }
    std::uint64_t v = 0;
    if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X') && std::iswxdigit(static_cast<wint_t>(s[2]))) {
        s.remove_prefix(2);
        for (wchar_t c : s) {
            int digit = 0;
            if (c >= L'0' && c <= L'9') {
                digit = c - L'0';
            } else if (c >= L'a' && c <= L'f') {
                digit = c - L'a' + 10;
            } else if (c >= L'A' && c <= L'F') {
                digit = c - L'A' + 10;
            } else {
                break;
            }
            v = std::min<std::uint64_t>(v * 16 + static_cast<std::uint64_t>(digit), UINT32_MAX);
        }
        return static_cast<UINT>(negative ? 0 - v : v);
    }
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') {
            break;
        }
        v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(c - L'0'), std::uint64_t{INT_MAX} + 1);
    }
    const long long signedValue = negative ? -static_cast<long long>(v) : std::min<long long>(v, INT_MAX);
    return static_cast<UINT>(static_cast<int>(signedValue));
}

// Drops the lines of the section for which drop() holds, then saves when any went.
template <class Drop>
BOOL RemoveLines(Document& doc, const wchar_t* section, const wchar_t* fileName, Drop drop) {
    bool inSection = false;
    bool removed = false;
    std::vector<Line> kept;
    kept.reserve(doc.lines.size());
    for (Line& line : doc.lines) {
        const Parsed p = Parse(line.text);
        if (p.kind == Kind::Section) {
            inSection = SameName(p.name, section);
        }
        if (inSection && drop(p)) {
            removed = true;
        } else {
            kept.push_back(std::move(line));
        }
    }
    doc.lines = std::move(kept);
    return !removed || Save(fileName, doc) ? TRUE : FALSE;
}

BOOL DeleteSection(Document& doc, const wchar_t* section, const wchar_t* fileName) {
    return RemoveLines(doc, section, fileName, [](const Parsed&) { return true; });
}

// Every copy of the key goes, so no later duplicate shows through after the delete.
BOOL DeleteKey(Document& doc, const wchar_t* section, const wchar_t* key, const wchar_t* fileName) {
    return RemoveLines(doc, section, fileName,
                       [key](const Parsed& p) { return p.kind == Kind::Key && SameName(p.name, key); });
}

BOOL SetKey(Document& doc, const wchar_t* section, const wchar_t* key, const wchar_t* value, const wchar_t* fileName) {
    bool inSection = false;
    bool inFirstBlock = false;
    std::optional<std::size_t> insertAfter;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        const Parsed p = Parse(doc.lines[i].text);
        if (p.kind == Kind::Section) {
            inSection = SameName(p.name, section);
            inFirstBlock = inSection && !insertAfter;
            if (inFirstBlock) {
                insertAfter = i;
            }
        } else if (p.kind == Kind::Key && inSection) {
            if (SameName(p.name, key)) {
                std::wstring text = p.name + L"=" + value;
                if (text == doc.lines[i].text) {
                    return TRUE;
                }
                doc.lines[i] = NewLine(std::move(text));
                return Save(fileName, doc) ? TRUE : FALSE;
            }
            if (inFirstBlock) {
                insertAfter = i;
            }
        }
    }
    std::wstring keyLine = std::wstring(key) + L"=" + value;
    if (insertAfter) {
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter + 1), NewLine(std::move(keyLine)));
    } else {
        doc.lines.push_back(NewLine(L"[" + std::wstring(section) + L"]"));
        doc.lines.push_back(NewLine(std::move(keyLine)));
    }
    return Save(fileName, doc) ? TRUE : FALSE;
}

}  // namespace

DWORD GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                               wchar_t* out, DWORD size, const wchar_t* fileName) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    Document doc;
    {
        std::lock_guard<std::mutex> lock(ProfileMutex());
        Load(fileName, doc);
    }
    if (section == nullptr || key == nullptr) {
        return CopyList(ListNames(doc, section), out, size);
    }
    const std::wstring value = FindValue(doc, section, key).value_or(TrimmedDefault(defaultValue));
    return static_cast<DWORD>(text::CopyW(out, size, value) ? value.size() : size - 1);
}

UINT GetPrivateProfileIntW(const wchar_t* section, const wchar_t* key, int defaultValue, const wchar_t* fileName) {
    if (section == nullptr || key == nullptr) {
        return static_cast<UINT>(defaultValue);
    }
    Document doc;
    {
        std::lock_guard<std::mutex> lock(ProfileMutex());
        Load(fileName, doc);
    }
    const std::optional<std::wstring> value = FindValue(doc, section, key);
    if (!value || value->empty()) {
        return static_cast<UINT>(defaultValue);
    }
    return ParseProfileInt(*value);
}

BOOL WritePrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                const wchar_t* fileName) {
    if (section == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(ProfileMutex());
    Document doc;
    const LoadStatus status = Load(fileName, doc);
    if (status == LoadStatus::Failed) {
        return FALSE;
    }
    if (key == nullptr) {
        return status == LoadStatus::Missing ? TRUE : DeleteSection(doc, section, fileName);
    }
    if (value == nullptr) {
        return status == LoadStatus::Missing ? TRUE : DeleteKey(doc, section, key, fileName);
    }
    return SetKey(doc, section, key, value, fileName);
}

std::wstring GetProfileText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                            const wchar_t* fileName) {
    if (section == nullptr || key == nullptr) {
        return TrimmedDefault(defaultValue);
    }
    Document doc;
    {
        std::lock_guard<std::mutex> lock(ProfileMutex());
        Load(fileName, doc);
    }
    return FindValue(doc, section, key).value_or(TrimmedDefault(defaultValue));
}
