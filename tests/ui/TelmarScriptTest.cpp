#include "TelmarScript.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

int Decode(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
    out.assign(in.size() > 16 ? in.size() - 16 : 0, 0);
    return TelmarScriptDecode(in.data(), static_cast<int>(in.size()), out.data());
}

TEST(TelmarScriptTest, RoundTripRestoresThePage) {
    const std::string page = "<html><body>中文 page " + std::string(300, 'x') + "</body></html>";
    const auto stored = TelmarScriptEncode(Bytes(page), 201);
    std::vector<std::uint8_t> out;
    ASSERT_EQ(Decode(stored, out), static_cast<int>(page.size()));
    EXPECT_EQ(std::string(out.begin(), out.end()), page);
    EXPECT_NE(std::string(stored.begin(), stored.begin() + 10), page.substr(0, 10));
}

TEST(TelmarScriptTest, TrailerIsChecked) {
    auto stored = TelmarScriptEncode(Bytes("short"), 3);
    ASSERT_EQ(stored.size(), 144u);  // padded to the smallest stored size
    std::vector<std::uint8_t> out;
    EXPECT_EQ(Decode(stored, out), 128);
    std::vector<std::uint8_t> tooShort(stored.begin() + 1, stored.end());
    EXPECT_EQ(Decode(tooShort, out), -1);
    auto badMarker = stored;
    badMarker[badMarker.size() - 6] = 'U';
    EXPECT_EQ(Decode(badMarker, out), -2);
    auto badVersion = stored;
    badVersion[badVersion.size() - 14] = 2;
    EXPECT_EQ(Decode(badVersion, out), -3);
}

TEST(TelmarScriptTest, KeyRowRepeatsEvery128Bytes) {
    // Two stored bytes 128 apart that decode to the same value were scrambled with the same key byte.
    std::vector<std::uint8_t> stored(256 + 16, 0);
    stored[stored.size() - 15] = 9;
    stored[stored.size() - 14] = 1;
    stored[stored.size() - 7] = 0x51;
    stored[stored.size() - 6] = 0x75;
    std::vector<std::uint8_t> out;
    ASSERT_EQ(Decode(stored, out), 256);
    EXPECT_EQ(out[255], out[255 - 128]);  // stored bytes 0 and 128 end reversed at 255 and 127
    EXPECT_NE(out[255], out[254]);
}

}  // namespace
