#include "Text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::wstring kSentence = L"运行程序与配置版本不一致，必须重新安装软件。";

TEST(TextUtf16, SurrogatePairsBothWays) {
    const std::wstring smile = L"A\U0001F600";
    EXPECT_EQ(text::ToUtf16(smile), (std::u16string{u'A', 0xD83D, 0xDE00}));
    EXPECT_EQ(text::FromUtf16(text::ToUtf16(smile)), smile);
    EXPECT_EQ(text::ToUtf16LeBytes(smile), std::string("A\0\x3D\xD8\x00\xDE", 6));
    EXPECT_EQ(text::FromUtf16LeBytes(text::ToUtf16LeBytes(kSentence)), kSentence);
}

TEST(TextUtf16, InvalidInputBecomesReplacement) {
    EXPECT_EQ(text::FromUtf16(std::u16string{0xD83D, u'x'}), L"\uFFFDx");
    EXPECT_EQ(text::FromUtf16(std::u16string{0xDE00}), L"\uFFFD");
    EXPECT_EQ(text::FromUtf16(std::u16string{u'x', 0xD83D}), L"x\uFFFD");
    EXPECT_EQ(text::ToUtf16(std::wstring(1, static_cast<wchar_t>(0x110000))), u"\uFFFD");
    EXPECT_EQ(text::FromUtf16LeBytes(std::string("A\0B", 3)), L"A\uFFFD");
}

TEST(TextUtf8, RoundTripAndKnownBytes) {
    EXPECT_EQ(text::ToUtf8(L"中"), "\xE4\xB8\xAD");
    EXPECT_EQ(text::ToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
    const std::wstring mixed = L"a\u00E9" + kSentence + L"\U0001F600";
    EXPECT_EQ(text::FromUtf8(text::ToUtf8(mixed)), mixed);
}

TEST(TextUtf8, MalformedSequencesBecomeReplacement) {
    EXPECT_EQ(text::FromUtf8("\xC0\xAF" "a"), L"\uFFFD\uFFFDa");  // overlong
    EXPECT_EQ(text::FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(text::FromUtf8("x\xE4\xB8"), L"x\uFFFD");  // cut at the end
    EXPECT_EQ(text::FromUtf8("\xE4" "a"), L"\uFFFDa");
    EXPECT_EQ(text::FromUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
}

TEST(TextAnsi, GbkRoundTripAndKnownBytes) {
    EXPECT_EQ(text::ToAnsi(L"中文"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(text::FromAnsi("\xD6\xD0" "a"), L"中a");
    const std::string bytes = text::ToAnsi(kSentence);
    EXPECT_EQ(bytes.size(), kSentence.size() * 2);
    EXPECT_EQ(text::FromAnsi(bytes), kSentence);
}

TEST(TextAnsi, UnmappableAndInvalid) {
    EXPECT_EQ(text::ToAnsi(L"a\U0001F600b中"), "a?b\xD6\xD0");
    EXPECT_EQ(text::FromAnsi("\xFF" "A"), L"\uFFFDA");
    EXPECT_EQ(text::FromAnsi("A\xD6"), L"A\uFFFD");
    // A broken pair must not swallow the ASCII byte after the lead byte.
    EXPECT_EQ(text::FromAnsi("\xD6\x0A" "b"), L"\uFFFD\nb");
}

TEST(TextAnsi, ConcurrentConversions) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 200; ++i) {
                if (text::FromAnsi(text::ToAnsi(kSentence)) != kSentence) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

std::wstring Format(const wchar_t* format, auto... args) {
    std::wstring out;
    EXPECT_TRUE(text::FormatW(out, 4096, format, args...)) << "format: " << text::ToUtf8(format);
    return out;
}

TEST(TextFormatW, WindowsConversions) {
    EXPECT_EQ(Format(L"%s(%d)", L"运行", 42), L"运行(42)");
    EXPECT_EQ(Format(L"[%c]", L'中'), L"[中]");
    EXPECT_EQ(Format(L"[%5.2f]", 3.14159), L"[ 3.14]");
    EXPECT_EQ(Format(L"%I64d %I64u %I64x", std::int64_t{-9000000000}, std::uint64_t{18000000000000000000u},
                     std::uint64_t{0xABCDEF0123}),
              L"-9000000000 18000000000000000000 abcdef0123");
    EXPECT_EQ(Format(L"100%%"), L"100%");
    EXPECT_EQ(Format(L"[%-8s]", L"ab"), L"[ab      ]");
    EXPECT_EQ(Format(L"[%8s]", L"ab"), L"[      ab]");
    EXPECT_EQ(Format(L"%ls/%lc/%ws", L"x", L'y', L"z"), L"x/y/z");
    EXPECT_EQ(Format(L"%lu %ld", 4000000000u, -5), L"4000000000 -5");
    EXPECT_EQ(Format(L"[%05d] [%+d] [%#x] [%X]", -42, 7, 255, 255), L"[-0042] [+7] [0xff] [FF]");
    EXPECT_EQ(Format(L"%hd %hhu", 70000, 257), L"4464 1");
    EXPECT_EQ(Format(L"%zu %Iu", std::size_t{12}, std::size_t{34}), L"12 34");
}

TEST(TextFormatW, NarrowArgumentsAreSystemCodePage) {
    EXPECT_EQ(Format(L"%S|%hs|%hc", "\xD6\xD0", "ab", 'c'), L"中|ab|c");
    EXPECT_EQ(Format(L"[%-4S]", "\xCE\xC4"), L"[文   ]");
}

TEST(TextFormatW, StarWidthAndPrecision) {
    EXPECT_EQ(Format(L"[%*d]", 4, 7), L"[   7]");
    EXPECT_EQ(Format(L"[%*d]", -4, 7), L"[7   ]");
    EXPECT_EQ(Format(L"[%.*s]", 2, L"abcdef"), L"[ab]");
    EXPECT_EQ(Format(L"[%*.*f]", 6, 1, 2.25), L"[   2.2]");
    // With a precision the narrow argument is a fixed field that needs no NUL.
    const char field[3] = {'x', 'y', 'z'};
    EXPECT_EQ(Format(L"[%.3hs]", field), L"[xyz]");
}

TEST(TextFormatW, WideResultIsGrownBeyondSmallBuffers) {
    const std::wstring out = Format(L"%3000d|", 5);
    ASSERT_EQ(out.size(), 3001u);
    EXPECT_EQ(out.substr(2999), L"5|");
}

TEST(TextFormatW, CutToBufferAndReported) {
    std::wstring out;
    EXPECT_FALSE(text::FormatW(out, 5, L"%s", L"abcdefgh"));
    EXPECT_EQ(out, L"abcd");
    EXPECT_TRUE(text::FormatW(out, 9, L"%s", L"abcdefgh"));
    EXPECT_EQ(out, L"abcdefgh");
    EXPECT_FALSE(text::FormatW(out, 3, L"ab%d", 1234));
    EXPECT_EQ(out, L"ab");
    EXPECT_FALSE(text::FormatW(out, 0, L"x"));
    EXPECT_EQ(out, L"");
    EXPECT_TRUE(text::FormatW(out, 0, L""));
}

TEST(TextFormatW, NullStringsAndBrokenFormats) {
    EXPECT_EQ(Format(L"[%s][%S][%hs]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr),
                     static_cast<const char*>(nullptr)),
              L"[][][]");
    std::wstring out;
    EXPECT_FALSE(text::FormatW(out, 100, L"ab%"));
    EXPECT_EQ(out, L"ab");
    int count = 0;
    EXPECT_FALSE(text::FormatW(out, 100, L"x%n", &count));
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(text::FormatW(out, 100, nullptr));
}

bool ForwardFormat(std::wstring& out, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = text::VFormatW(out, 64, format, args);
    va_end(args);
    return ok;
}

TEST(TextFormatW, VaListForm) {
    std::wstring out;
    EXPECT_TRUE(ForwardFormat(out, L"%s=%d", L"n", 3));
    EXPECT_EQ(out, L"n=3");
}

TEST(TextQuoteSql, DoublesSingleQuotes) {
    EXPECT_EQ(text::QuoteSql(L"O'Neil"), L"O''Neil");
    EXPECT_EQ(text::QuoteSql(L"''"), L"''''");
    EXPECT_EQ(text::QuoteSql(L"plain \"x\""), L"plain \"x\"");
}

TEST(TextWToI, WindowsParsing) {
    EXPECT_EQ(text::WToI(L" \t-12x"), -12);
    EXPECT_EQ(text::WToI(L"+7"), 7);
    EXPECT_EQ(text::WToI(L""), 0);
    EXPECT_EQ(text::WToI(L"x12"), 0);
    EXPECT_EQ(text::WToI(L"- 3"), 0);
    EXPECT_EQ(text::WToI(nullptr), 0);
    EXPECT_EQ(text::WToI(L"2147483647"), INT_MAX);
    EXPECT_EQ(text::WToI(L"99999999999999999999"), INT_MAX);
    EXPECT_EQ(text::WToI(L"-2147483648"), INT_MIN);
    EXPECT_EQ(text::WToI(L"-99999999999999999999"), INT_MIN);
}

TEST(TextParseWholeInt, OnlyAWholeNumberInRange) {
    int v = 5;
    EXPECT_TRUE(text::ParseWholeInt(L" -12 ", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(text::ParseWholeInt(L"-2147483648", v));
    EXPECT_EQ(v, INT_MIN);
    for (const wchar_t* bad : {L"", L"-", L"12x", L"1 2", L"2147483648", L"99999999999", L"\t7"}) {
        EXPECT_FALSE(text::ParseWholeInt(bad, v)) << bad;
        EXPECT_EQ(v, INT_MIN);
    }
}

TEST(TextCopy, BoundedAndTerminated) {
    wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_TRUE(text::CopyW(wide, 4, L"abc"));
    EXPECT_STREQ(wide, L"abc");
    EXPECT_FALSE(text::CopyW(wide, 4, L"abcdef"));
    EXPECT_STREQ(wide, L"abc");
    EXPECT_FALSE(text::CopyW(wide, 0, L"a"));
    EXPECT_EQ(wide[0], L'a');

    char narrow[3] = {'#', '#', '#'};
    EXPECT_FALSE(text::CopyA(narrow, 3, "xyz"));
    EXPECT_STREQ(narrow, "xy");
    EXPECT_TRUE(text::CopyA(narrow, 3, ""));
    EXPECT_STREQ(narrow, "");
}

}  // namespace
