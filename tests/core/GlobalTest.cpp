#include "global.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "EnvScope.h"
#include "Hooks.h"
#include "LogReader.h"
#include "TempDir.h"
#include "Text.h"

namespace {

TEST(GetValueTest, FieldsAreCountedFromOne) {
    EXPECT_EQ(GetValue(L"a,b,c", 2, L',', 260), L"b");
    EXPECT_EQ(GetValue(L"a,b,c", 3, L',', 260), L"c");
    EXPECT_EQ(GetValue(L"a,b,c", 4, L',', 260), L"");
    EXPECT_EQ(GetValue(L"a,b,c", 0, L',', 260), L"");
    EXPECT_EQ(GetValue(L",x", 1, L',', 260), L"");
    EXPECT_EQ(GetValue(L",x", 2, L',', 260), L"x");
    EXPECT_EQ(GetValue(L"a\x02\x02" L"c", 2, L'\x02', 260), L"");
    EXPECT_EQ(GetValue(L"", 1, L',', 260), L"");

    wchar_t buffer[4] = {L'?', L'?', L'?', L'?'};
    EXPECT_STREQ(GetValue(L"1|22|333", buffer, 2, L'|', 4), L"22");
    EXPECT_STREQ(GetValue(nullptr, buffer, 1, L'|', 4), L"");
    buffer[0] = L'?';
    EXPECT_EQ(GetValue(L"x", buffer, 1, L'|', 0), buffer);
    EXPECT_EQ(buffer[0], L'?');  // no room, nothing written
}

TEST(GetValueTest, OverlongFieldIsCutAndLoggedOnce) {
    const std::wstring marker = L"cutmarker" + std::to_wstring(std::random_device{}());
    const std::wstring field = marker + std::wstring(300 - marker.size(), L'z');
    const std::wstring got = GetValue(L"head," + field + L",tail" + marker, 2, L',', 260);
    EXPECT_EQ(got, field.substr(0, 259));
    EXPECT_EQ(CountLogLines(L"GetValue(" + marker), 0);  // the line carries the text from the cut on
    EXPECT_EQ(CountLogLines(L"GetValue(" + std::wstring(41, L'z') + L",tail" + marker + L",1) len > 260"), 1);
}

TEST(Base64Test, PaddingLineBreaksAndRoundTrip) {
    EXPECT_EQ(Base64Encode("abc", 1000), "YWJj");
    EXPECT_EQ(Base64Encode("ab", 1000), "YWI=");
    EXPECT_EQ(Base64Encode("a", 1000), "YQ==");
    EXPECT_EQ(Base64Decode("YWJj").size(), 3u);
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    const std::string nine = Base64Encode("123456789", 8);
    EXPECT_EQ(nine, "MTIzNDU2\r\nNzg5");
    EXPECT_EQ(nine.size(), 14u);
    EXPECT_EQ(Base64Decode("YWJ"), "ab");  // a short last group reads as padded, never past the end
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    EXPECT_EQ(Base64Decode(Base64Encode(bytes, 100000)), bytes);
}

class SystemHelpersTest : public ::testing::Test {
protected:
    void Adapter(const std::string& name, const std::string& type, const std::string& index, const std::string& mac) {
        const auto folder = dir_ / "sys/class/net" / name;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "type") << type << "\n";
        std::ofstream(folder / "ifindex") << index << "\n";
        std::ofstream(folder / "address") << mac << "\n";
    }

    TempDir dir_;
    HookScope hooks_;
};

TEST_F(SystemHelpersTest, MacOfTheFirstAdapterKeepsLeadingZeros) {
    Hooks().sysfsRoot = dir_ / "sys";
    std::wstring mac = L"unchanged";
    EXPECT_EQ(GetMacAddress(mac), 0);
    EXPECT_EQ(mac, L"unchanged");
    Adapter("lo", "772", "1", "00:00:00:00:00:00");
    Adapter("wlan0", "1", "3", "0a:00:27:00:00:0b");
    Adapter("eth0", "1", "2", "00:1b:21:0a:0b:0c");
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, L"001B210A0B0C");
}

TEST_F(SystemHelpersTest, MacSkipsAdaptersWithoutASixByteAddress) {
    Hooks().sysfsRoot = dir_ / "sys";
    Adapter("sit0", "776", "2", "00:00:00:00");
    Adapter("dummy0", "1", "3", "00:00:00:00:00:00");
    Adapter("ib0", "32", "4", "80:00:02:08:fe:80:00:00:00:00:00:00:00:11:22:ff:fe:33:44:55");
    Adapter("tun0", "65534", "5", "");
    Adapter("eth1", "1", "6", "52:54:00:12:34:56");
    std::wstring mac;
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, L"525400123456");
}

TEST_F(SystemHelpersTest, StartWithTheSessionOnAndOff) {
    Hooks().configFolder = dir_.Path();
    const wchar_t* runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_FALSE(RegValueExists(runKey, L"Quorvix"));
    ASSERT_TRUE(SetAutoRun(true));
    EXPECT_TRUE(RegValueExists(runKey, L"Quorvix"));
    EXPECT_FALSE(RegValueExists(L"Software\\Other", L"Quorvix"));
    std::ifstream entry(dir_ / "autostart/Quorvix.desktop");
    const std::string content((std::istreambuf_iterator<char>(entry)), std::istreambuf_iterator<char>());
    EXPECT_NE(content.find("core_tests\" /autoRun\n"), std::string::npos) << content;
    EXPECT_TRUE(SetAutoRun(false));
    EXPECT_FALSE(RegValueExists(runKey, L"Quorvix"));
}

TEST_F(SystemHelpersTest, StartWithTheSessionGoesToTheXdgConfigFolder) {
    EnvScope xdg("XDG_CONFIG_HOME", (dir_ / "settings").c_str());
    Hooks().configFolder = DefaultHooks().configFolder;
    ASSERT_TRUE(SetAutoRun(true));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "settings/autostart/Quorvix.desktop"));
}

TEST(NotificationSoundTest, SlotsKeepTheSoundAndItsFlags) {
    int module = 0;
    EXPECT_EQ(SetNotificationSound(134, &module, 0, FALSE), 1);
    EXPECT_EQ(GetNotificationSound(0).flags, 0x2002u | 0x40004u);
    EXPECT_EQ(GetNotificationSound(0).resource, 134u);
    EXPECT_EQ(SetNotificationSound(L"ding.wav", nullptr, 5, TRUE), 1);
    EXPECT_EQ(GetNotificationSound(1).flags, 0x2002u | 0x20000u | 1u);
    EXPECT_EQ(GetNotificationSound(1).fileName, L"ding.wav");
    EXPECT_EQ(SetNotificationSound(std::wstring(300, L'x').c_str(), nullptr, 1, FALSE), 0);
    EXPECT_EQ(GetNotificationSound(1).fileName, L"ding.wav");
    EXPECT_EQ(SetNotificationSound(nullptr, nullptr, 1, FALSE), 1);
    EXPECT_EQ(GetNotificationSound(1).flags, 0u);
}

TEST(SwitchesTest, FlashIsReportedAsTheHookSays) {
    EXPECT_FALSE(IsFlashInstalled());
    HookScope scope;
    Hooks().flashInstalled = true;
    EXPECT_TRUE(IsFlashInstalled());
    g_bFullScreen = true;
    EXPECT_TRUE(GetFullScreenFlag());
    g_bFullScreen = false;
}

}  // namespace
