#include "CxLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "Hooks.h"
#include "LogReader.h"
#include "TempDir.h"
#include "Text.h"

namespace {

using namespace std::chrono_literals;

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
    return SYSTEMTIME{year, month, 0, day, hour, minute, second, ms};
}

std::vector<std::wstring> SplitLines(const std::wstring& all) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(all.substr(start, end - start));
    }
    return lines;
}

class CxLogTest : public ::testing::Test {
protected:
    CxLogTest() {
        now_ = At(2026, 12, 8, 10, 11, 12, 13);
        Hooks().localTime = [this](SYSTEMTIME& st) { st = now_; };
    }

    std::wstring Written(CxLog& log, std::chrono::milliseconds wait = 2s) {
        EXPECT_TRUE(log.Flush(wait));
        return text::FromUtf16LeBytes(ReadFileBytes(log.FileName()));
    }

    HookScope hooks_;
    TempDir dir_;
    SYSTEMTIME now_;
};

TEST_F(CxLogTest, LinesCarryTimeLevelFileFunctionAndLine) {
    CxLog log(dir_.Path());
    log.Write(L"C:\\src\\core\\Config.cpp", L"CConfig::InitConfig", 42, LOG_WARNING, L"hello");
    log.Write(L"/src/core/Other.cpp", L"F", 7, LOG_ERROR, L"slash");
    log.Write(nullptr, L"F", 42, LOG_MESSAGE, L"t");
    log.Write(nullptr, nullptr, 0, LOG_EXCEPTION, nullptr);
    EXPECT_EQ(Written(log),
              L"2026-12-08 10:11:12.013 Warning Config.cpp(CConfig::InitConfig, 42): hello\r\n"
              L"2026-12-08 10:11:12.013 Error Other.cpp(F, 7): slash\r\n"
              L"2026-12-08 10:11:12.013 Message (F, 0): t\r\n"
              L"2026-12-08 10:11:12.013 Exception (, 0): \r\n");
}

TEST_F(CxLogTest, TextEndingInCrLfGivesOneLineBreak) {
    CxLog log(dir_.Path());
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"done\r\n");
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"next");
    EXPECT_EQ(Written(log), L"2026-12-08 10:11:12.013 Message (F, 0): done\r\n"
                            L"2026-12-08 10:11:12.013 Message (F, 0): next\r\n");
}

TEST_F(CxLogTest, DataBlockIsDumpedSixteenBytesALine) {
    CxLog log(dir_.Path());
    BYTE data[17];
    for (int i = 0; i < 17; ++i) data[i] = static_cast<BYTE>(0x41 + i);
    data[1] = 0x0A;  // a control character shows as a blank
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"block", data, 17);
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"negative length", data, -5);
    const auto lines = SplitLines(Written(log));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1] + L"\r\n",
              L"00000000: 41 0A 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 A CDEFGHIJKLMNOP\r\n");
    EXPECT_EQ(lines[1].size() + 2, 76u);
    EXPECT_EQ(lines[2], L"00000010: 51" + std::wstring(15 * 3 + 1, L' ') + L"Q" + std::wstring(15, L' '));
    EXPECT_EQ(lines[2].size() + 2, 76u);
    EXPECT_NE(lines[3].find(L"negative length"), std::wstring::npos);
}

TEST_F(CxLogTest, RecordsFromManyThreadsAreAllWrittenInEachThreadsOrder) {
    CxLog log(dir_.Path());
    constexpr int kThreads = 8;
    constexpr int kPerThread = 10000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kPerThread; ++i) {
                log.WriteFormat(nullptr, L"T", 0, LOG_MESSAGE, L"%d:%d", t, i);
                // Now and then a thread waits for the writer, so that its passes fall among
                // every thread's records, however the threads are scheduled.
                if (i % 1000 == 999) log.Flush(1s);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::vector<int> next(kThreads, 0);
    int total = 0;
    // Writing 80,000 lines takes the writer a while in the sanitizer build on a loaded machine.
    for (const auto& line : SplitLines(Written(log, 60s))) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::swscanf(line.c_str() + line.find(L"): ") + 3, L"%d:%d", &t, &i), 2) << text::ToUtf8(line);
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]++);
        ++total;
    }
    EXPECT_EQ(total, kThreads * kPerThread);
}

TEST_F(CxLogTest, FormatIsCutAt1023Characters) {
    CxLog log(dir_.Path());
    const std::wstring longText(2000, L'x');
    log.WriteFormat(nullptr, L"F", 0, LOG_MESSAGE, L"%s", longText.c_str());
    log.WriteFormat(nullptr, L"F", 0, LOG_MESSAGE, L"%s(%d)", L"name", 5);
    const auto lines = SplitLines(Written(log));
    ASSERT_EQ(lines.size(), 2u);
    const std::wstring prefix = L"2026-12-08 10:11:12.013 Message (F, 0): ";
    EXPECT_EQ(lines[0], prefix + std::wstring(1023, L'x'));
    EXPECT_EQ(lines[1], prefix + L"name(5)");
}

TEST_F(CxLogTest, FileIsUtf16LeWithoutByteOrderMarkAndAppended) {
    {
        CxLog log(dir_.Path());
        log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"警示");
    }
    CxLog again(dir_.Path());
    again.Write(nullptr, L"F", 0, LOG_MESSAGE, L"B");
    ASSERT_TRUE(again.Flush(2s));
    const std::string bytes = ReadFileBytes(again.FileName());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("2\0", 2));  // '2' of the year, no FF FE before it
    const std::wstring all = text::FromUtf16LeBytes(bytes);
    EXPECT_NE(all.find(L": 警示\r\n"), std::wstring::npos);
    EXPECT_EQ(SplitLines(all).size(), 2u);
    const std::string chinese = text::ToUtf16LeBytes(L"警示");
    EXPECT_EQ(chinese, std::string("\x66\x8B\x3A\x79", 4));
    EXPECT_NE(bytes.find(chinese), std::string::npos);
}

TEST_F(CxLogTest, FileNameStaysTheStartDaysAfterMidnight) {
    now_ = At(2026, 12, 8, 23, 59, 59, 900);
    CxLog log(dir_.Path());
    EXPECT_EQ(log.FileName(), dir_.Path() / "20261208.log");
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"before");
    now_ = At(2026, 12, 9, 0, 0, 1, 0);
    log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"after");
    const auto lines = SplitLines(Written(log));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 10), L"2026-12-09");
    EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "20261209.log"));
}

TEST_F(CxLogTest, ShutdownWritesWhatIsQueuedAndDropsLaterLines) {
    CxLog log(dir_.Path());
    for (int i = 0; i < 500; ++i) log.WriteFormat(nullptr, L"F", 0, LOG_MESSAGE, L"%d", i);
    log.Shutdown();
    EXPECT_FALSE(log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"late"));
    const std::wstring all = text::FromUtf16LeBytes(ReadFileBytes(log.FileName()));
    EXPECT_EQ(SplitLines(all).size(), 500u);
    EXPECT_EQ(all.find(L"late"), std::wstring::npos);
}

TEST_F(CxLogTest, UnwritableFolderDropsTheBatchWithoutHarm) {
    const auto blocker = dir_.Path() / "file";
    std::ofstream(blocker) << "x";
    CxLog log(blocker / "Log");  // a folder under a plain file cannot exist
    EXPECT_TRUE(log.Write(nullptr, L"F", 0, LOG_MESSAGE, L"lost"));
    EXPECT_TRUE(log.Flush(2s));
    EXPECT_FALSE(std::filesystem::exists(log.FileName()));
}

// /dev/full takes the open and refuses every byte, as a full disk does.
TEST_F(CxLogTest, ALogThatCannotBeWrittenIsSaidOnceOnStandardError) {
    CxLog log(dir_.Path());
    std::filesystem::create_symlink("/dev/full", log.FileName());
    testing::internal::CaptureStderr();
    for (const wchar_t* text : {L"one", L"two"}) {
        log.Write(nullptr, L"F", 0, LOG_MESSAGE, text);
        EXPECT_TRUE(log.Flush(2s));
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountOf(said, "CxLog: cannot write " + log.FileName().string() + ": No space left on device\n"), 1)
        << said;
}

}  // namespace
