// The profile file reader over arbitrary file contents. The first byte picks how the
// rest is marked (not at all: read as the system code page, as UTF-8 without a mark is;
// as UTF-16LE or as UTF-8 by its byte-order mark) and the buffer size of the reads.
// The reads are the settings' reads: named values, numbers, and the key and section
// lists. Every read loads the file again, as the program's do.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Profile.h"

namespace {

constexpr const wchar_t* kFile = L"fuzz.ini";
constexpr const wchar_t* kSection = L"Login";
constexpr const wchar_t* kKeys[] = {L"LoginAccount", L"userno", L"Version"};
constexpr DWORD kSizes[] = {1, 2, 16, 260};

void WriteFile(const std::uint8_t* data, std::size_t size) {
    static const std::string kMarks[] = {"", "\xFF\xFE", "\xEF\xBB\xBF"};
    std::ofstream out("fuzz.ini", std::ios::binary | std::ios::trunc);
    out << kMarks[(data[0] & 3) % std::size(kMarks)];
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
}

// A buffer exactly `size` long, so a write past it is seen.
void ReadText(const wchar_t* section, const wchar_t* key, DWORD size) {
    std::vector<wchar_t> out(size, L'#');
    const DWORD n = GetPrivateProfileStringW(section, key, L"dflt ", out.data(), size, kFile);
    fuzz::Require(n < size && out[n] == L'\0', "a profile text without its terminator inside the buffer");
}

// The whole value against the same value read into a buffer just large enough.
void ReadWhole(const wchar_t* key) {
    const std::wstring whole = GetProfileText(kSection, key, L"", kFile);
    std::vector<wchar_t> out(whole.size() + 1);
    GetPrivateProfileStringW(kSection, key, L"", out.data(), static_cast<DWORD>(out.size()), kFile);
    // Both end at a NUL the value may hold.
    fuzz::Require(std::wstring(whole.c_str()) == out.data(), "a value read whole differs from the buffered one");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::EnterWorkDir(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    WriteFile(data, size);
    const DWORD bufferSize = kSizes[(data[0] >> 2) % std::size(kSizes)];
    for (const wchar_t* key : kKeys) ReadText(kSection, key, bufferSize);
    GetPrivateProfileIntW(kSection, L"UserNo", -1, kFile);
    ReadWhole(L"loginaccount");
    ReadText(kSection, nullptr, bufferSize);
    ReadText(nullptr, nullptr, bufferSize);
    return 0;
}
