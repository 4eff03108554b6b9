#include "TelmarScript.h"

#include <array>

namespace {

constexpr int kRows = 256;
constexpr int kRowBytes = 128;
constexpr std::uint8_t kMarker0 = 0x51;  // 'Q'
constexpr std::uint8_t kMarker1 = 0x75;  // 'u'
constexpr std::uint8_t kVersion = 1;

// The key table is a fixed secret of the file format; ours is drawn from a fixed seed.
constexpr std::array<std::uint8_t, kRows * kRowBytes> MakeKeyTable() {
    std::array<std::uint8_t, kRows * kRowBytes> table{};
    std::uint32_t state = 0x51756F72u;
    for (auto& byte : table) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 11);
    }
    return table;
}

constexpr auto kKeyTable = MakeKeyTable();

const std::uint8_t* KeyRow(std::uint8_t row) { return kKeyTable.data() + row * kRowBytes; }

}  // namespace

int TelmarScriptDecode(const std::uint8_t* in, int length, std::uint8_t* out) {
    if (length < kScrambleMinLength) return -1;
    if (in[length - 7] != kMarker0 || in[length - 6] != kMarker1) return -2;
    if (in[length - 14] != kVersion) return -3;
    const std::uint8_t* row = KeyRow(in[length - 15]);
    const int n = length - kScrambleTrailer;
    for (int i = 0; i < n; ++i) out[n - 1 - i] = in[i] ^ row[i % kRowBytes];
    return n;
}

std::vector<std::uint8_t> TelmarScriptEncode(const std::vector<std::uint8_t>& payload, std::uint8_t keyRow) {
    std::vector<std::uint8_t> plain = payload;
    if (plain.size() < kScrambleMinLength - kScrambleTrailer) plain.resize(kScrambleMinLength - kScrambleTrailer, ' ');
    const std::size_t n = plain.size();
    const std::uint8_t* row = KeyRow(keyRow);
    std::vector<std::uint8_t> out(n + kScrambleTrailer, 0);
    for (std::size_t i = 0; i < n; ++i) out[i] = plain[n - 1 - i] ^ row[i % kRowBytes];
    const std::size_t length = out.size();
    out[length - 15] = keyRow;
    out[length - 14] = kVersion;
    out[length - 7] = kMarker0;
    out[length - 6] = kMarker1;
    return out;
}
