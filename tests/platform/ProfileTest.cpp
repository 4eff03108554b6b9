#include "Profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "Text.h"

namespace {

class ProfileTest : public ::testing::Test {
protected:
    std::wstring File(const std::string& name = "settings.ini") const { return text::FromUtf8((dir_ / name).string()); }

    void WriteBytes(const std::string& bytes, const std::string& name = "settings.ini") const {
        std::ofstream out(dir_ / name, std::ios::binary);
        out << bytes;
    }

    std::string ReadBytes(const std::string& name = "settings.ini") const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    // A created file is UTF-16LE with a byte-order mark.
    std::wstring ReadUtf16Text() const {
        const std::string bytes = ReadBytes();
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        return text::FromUtf16LeBytes(std::string_view(bytes).substr(2));
    }

    void WriteUtf16Text(const std::wstring& content) const { WriteBytes("\xFF\xFE" + text::ToUtf16LeBytes(content)); }

    std::wstring Get(const wchar_t* section, const wchar_t* key, const wchar_t* def = L"<none>") const {
        wchar_t buffer[256];
        const std::wstring file = File();
        const DWORD n = GetPrivateProfileStringW(section, key, def, buffer, 256, file.c_str());
        EXPECT_EQ(n, std::wcslen(buffer));
        return buffer;
    }

    bool Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) const {
        const std::wstring file = File();
        return WritePrivateProfileStringW(section, key, value, file.c_str()) == TRUE;
    }

    TempDir dir_;
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesDefault) {
    EXPECT_EQ(Get(L"Main", L"Version", L"1.0"), L"1.0");
    EXPECT_EQ(Get(L"Main", L"Version", nullptr), L"");
    EXPECT_EQ(Get(L"Main", L"Version", L"  spaced  "), L"  spaced");

    WriteUtf16Text(L"[Main]\r\nVersion=2\r\n");
    EXPECT_EQ(Get(L"Other", L"Version", L"d"), L"d");
    EXPECT_EQ(Get(L"Main", L"Missing", L"d"), L"d");
    EXPECT_EQ(Get(L"Main", L"Version", L"d"), L"2");
}

TEST_F(ProfileTest, ParsingAndCaseInsensitiveNames) {
    WriteBytes(
        "orphan=before any section\n"
        "[ Server ]\n"
        "; Host=commented\n"
        "  Host  =  example.org  \n"
        "Quoted=\"  padded  \"\n"
        "Single='x'\n"
        "Mismatched=\"x'\n"
        "host=second copy\n"
        "no equals sign here\n"
        "[Other]\n"
        "Host=other\n");
    EXPECT_EQ(Get(L"server", L"HOST"), L"example.org");
    EXPECT_EQ(Get(L"SERVER", L"quoted"), L"  padded  ");
    EXPECT_EQ(Get(L"Server", L"Single"), L"x");
    EXPECT_EQ(Get(L"Server", L"Mismatched"), L"\"x'");
    EXPECT_EQ(Get(L"Server", L"no equals sign here"), L"<none>");
    EXPECT_EQ(Get(L"", L"orphan"), L"<none>");
    EXPECT_EQ(Get(L"Other", L"Host"), L"other");
}

TEST_F(ProfileTest, ValueIsCutToTheBuffer) {
    WriteUtf16Text(L"[S]\r\nk=abcdef\r\n");
    const std::wstring file = File();
    wchar_t buffer[8] = {};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"k", L"", buffer, 4, file.c_str()), 3u);
    EXPECT_STREQ(buffer, L"abc");
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"missing", L"defaults", buffer, 5, file.c_str()), 4u);
    EXPECT_STREQ(buffer, L"defa");
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"k", L"", buffer, 0, file.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"k", L"", nullptr, 8, file.c_str()), 0u);
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKey) {
    ASSERT_TRUE(Write(L"Main", L"Version", L"3.1"));
    EXPECT_EQ(ReadUtf16Text(), L"[Main]\r\nVersion=3.1\r\n");
    ASSERT_TRUE(Write(L"Net", L"Port", L"8080"));
    ASSERT_TRUE(Write(L"main", L"Build", L"77"));
    EXPECT_EQ(ReadUtf16Text(), L"[Main]\r\nVersion=3.1\r\nBuild=77\r\n[Net]\r\nPort=8080\r\n");
    EXPECT_EQ(Get(L"Main", L"Build"), L"77");
    EXPECT_EQ(Get(L"NET", L"port"), L"8080");
}

TEST_F(ProfileTest, ReplaceKeepsSpellingCommentsAndOtherLines) {
    WriteUtf16Text(
        L"; settings\n"
        L"[Main]\n"
        L"  Version = 1 \n"
        L"; keep me\n"
        L"Name=a\n"
        L"\n"
        L"[Tail]\n"
        L"x=1");
    ASSERT_TRUE(Write(L"MAIN", L"version", L"2"));
    ASSERT_TRUE(Write(L"Main", L"Added", L"new"));
    EXPECT_EQ(ReadUtf16Text(),
              L"; settings\r\n"
              L"[Main]\r\n"
              L"Version=2\r\n"
              L"; keep me\r\n"
              L"Name=a\r\n"
              L"Added=new\r\n"
              L"\r\n"
              L"[Tail]\r\n"
              L"x=1\r\n");
}

TEST_F(ProfileTest, DeleteKeyAndSection) {
    WriteUtf16Text(L"[A]\r\nk=1\r\nkeep=2\r\nK=dup\r\n[B]\r\nk=3\r\n[C]\r\nz=4\r\n");
    ASSERT_TRUE(Write(L"a", L"K", nullptr));
    EXPECT_EQ(Get(L"A", L"k"), L"<none>");
    EXPECT_EQ(Get(L"A", L"keep"), L"2");
    ASSERT_TRUE(Write(L"b", nullptr, nullptr));
    EXPECT_EQ(ReadUtf16Text(), L"[A]\r\nkeep=2\r\n[C]\r\nz=4\r\n");
    // Deleting what is not there succeeds and creates nothing.
    EXPECT_TRUE(Write(L"Nope", L"k", nullptr));
    const std::wstring absent = File("absent.ini");
    EXPECT_TRUE(WritePrivateProfileStringW(L"S", nullptr, nullptr, absent.c_str()));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "absent.ini"));
}

TEST_F(ProfileTest, WriteFailures) {
    EXPECT_FALSE(Write(nullptr, L"k", L"v"));
    const std::wstring nowhere = File("no-such-folder/settings.ini");
    EXPECT_FALSE(WritePrivateProfileStringW(L"S", L"k", L"v", nowhere.c_str()));
}

TEST_F(ProfileTest, ChineseValueInCreatedFile) {
    ASSERT_TRUE(Write(L"提示", L"消息", L"运行程序与配置版本不一致，必须重新安装软件。"));
    EXPECT_EQ(ReadBytes().substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(Get(L"提示", L"消息"), L"运行程序与配置版本不一致，必须重新安装软件。");
    EXPECT_EQ(GetProfileText(L"提示", L"消息", L"", File().c_str()), L"运行程序与配置版本不一致，必须重新安装软件。");
}

TEST_F(ProfileTest, GbkFileIsReadAndStaysGbk) {
    // [中文] / 名称=文件 / a stray byte that is not GBK, on a line a write must leave alone.
    WriteBytes("[\xD6\xD0\xCE\xC4]\r\n\xC3\xFB\xB3\xC6=\xCE\xC4\xBC\xFE\r\nraw=\xFF\r\n");
    EXPECT_EQ(Get(L"中文", L"名称"), L"文件");
    ASSERT_TRUE(Write(L"中文", L"名称", L"中"));
    EXPECT_EQ(ReadBytes(), "[\xD6\xD0\xCE\xC4]\r\n\xC3\xFB\xB3\xC6=\xD6\xD0\r\nraw=\xFF\r\n");
}

TEST_F(ProfileTest, Utf8FileKeepsItsMark) {
    WriteBytes("\xEF\xBB\xBF[S]\nk=\xE4\xB8\xAD\n");
    EXPECT_EQ(Get(L"S", L"k"), L"中");
    ASSERT_TRUE(Write(L"S", L"k", L"文"));
    EXPECT_EQ(ReadBytes(), "\xEF\xBB\xBF[S]\r\nk=\xE6\x96\x87\r\n");
}

TEST_F(ProfileTest, NameLists) {
    WriteUtf16Text(L"top=0\r\n[One]\r\na=1\r\nB=2\r\nb=dup\r\n[Two]\r\n[one]\r\nc=3\r\n");
    const std::wstring file = File();
    wchar_t buffer[64];
    DWORD n = GetPrivateProfileStringW(nullptr, nullptr, L"", buffer, 64, file.c_str());
    EXPECT_EQ(std::wstring(buffer, n + 1), std::wstring(L"One\0Two\0\0", 9));
    n = GetPrivateProfileStringW(L"ONE", nullptr, L"", buffer, 64, file.c_str());
    EXPECT_EQ(std::wstring(buffer, n + 1), std::wstring(L"a\0B\0c\0\0", 7));

    // Cut: what fits, then two NULs.
    n = GetPrivateProfileStringW(nullptr, nullptr, L"", buffer, 6, file.c_str());
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::wstring(buffer, 6), std::wstring(L"One\0\0\0", 6));

    n = GetPrivateProfileStringW(L"Missing", nullptr, L"", buffer, 64, file.c_str());
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer[0], L'\0');
}

TEST_F(ProfileTest, IntegerValues) {
    WriteUtf16Text(L"[N]\r\na=12abc\r\nb=0x1F\r\nc=-5\r\nd=word\r\ne=\r\nf=\"42\"\r\n");
    const std::wstring file = File();
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"a", 9, file.c_str()), 12u);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"b", 9, file.c_str()), 31u);
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(L"N", L"c", 9, file.c_str())), -5);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"d", 9, file.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"e", 9, file.c_str()), 9u);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"f", 9, file.c_str()), 42u);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"missing", 9, file.c_str()), 9u);
    EXPECT_EQ(GetPrivateProfileIntW(L"N", L"a", 9, File("absent.ini").c_str()), 9u);
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            const std::wstring section = L"T" + std::to_wstring(t);
            for (int i = 0; i < 10; ++i) {
                Write(section.c_str(), (L"k" + std::to_wstring(i)).c_str(), std::to_wstring(i).c_str());
                Get(section.c_str(), L"k0");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < 4; ++t) {
        const std::wstring section = L"T" + std::to_wstring(t);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(Get(section.c_str(), (L"k" + std::to_wstring(i)).c_str()), std::to_wstring(i));
        }
    }
    // No temporary file is left beside the profile.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), std::filesystem::directory_iterator()),
              1);
}

}  // namespace
