#include "DatabaseFile.h"

#include <filesystem>
#include <system_error>

#include "Text.h"

namespace {

namespace fs = std::filesystem;

const wchar_t* const kBeside[] = {L"-wal", L"-shm", L"-journal"};

fs::path FsPath(const std::wstring& path) { return fs::path(text::ToUtf8(path)); }

// Renames without ever replacing a file: the link fails when the name is taken.
bool MoveFileNoReplace(const std::wstring& from, const std::wstring& to) {
    std::error_code ec;
    fs::create_hard_link(FsPath(from), FsPath(to), ec);
    if (ec) return false;
    if (!fs::remove(FsPath(from), ec)) {
        fs::remove(FsPath(to), ec);
        return false;
    }
    return true;
}

}  // namespace

bool MoveDatabaseNoReplace(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileNoReplace(from, to)) return false;
    std::error_code ec;
    for (const wchar_t* suffix : kBeside) {
        if (fs::exists(FsPath(from + suffix), ec)) MoveFileNoReplace(from + suffix, to + suffix);
    }
    return true;
}

void RemoveDatabaseLeftovers(const std::wstring& path) {
    std::error_code ec;
    for (const wchar_t* suffix : kBeside) fs::remove(FsPath(path + suffix), ec);
}
