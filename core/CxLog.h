// The program-wide asynchronous file logger. A call only stamps the time and queues a
// record; one writer thread appends the records to the day's log file, UTF-16LE lines.
// A log that cannot be written (no folder, no right, a full disk) is said once on
// standard error; the program runs on.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "WinTypes.h"

enum LogLevel { LOG_MESSAGE = 0, LOG_WARNING = 1, LOG_EXCEPTION = 2, LOG_ERROR = 3 };

#define CXLOG_WIDEN2(x) L##x
#define CXLOG_WIDEN(x) CXLOG_WIDEN2(x)
// The caller's source-file name as a wide text.
#define CXLOG_FILE CXLOG_WIDEN(__FILE__)

// Logs one formatted line: LOGF(level, L"Class::Method", format, ...).
#define LOGF(level, function, ...) \
    CxLog::GetInstance()->WriteFormat(CXLOG_FILE, function, __LINE__, level, __VA_ARGS__)

class CxLog {
public:
    // The process-wide logger, writing to "Log/%Y%m%d.log" under the current directory.
    // It lives until the process ends; at exit the queued lines are written (500 ms at
    // most) and later calls are dropped, so a late worker thread never fails on a log call.
    static CxLog* GetInstance();
    // Where that logger writes instead of "Log": a test process sets a folder of its own
    // before anything logs, so that processes running side by side never share a file.
    // False when the logger exists already.
    static bool SetInstanceFolder(const std::filesystem::path& folder);

    // A logger of its own writing into `folder`, named after today's date (tests).
    explicit CxLog(const std::filesystem::path& folder);
    ~CxLog();
    CxLog(const CxLog&) = delete;
    CxLog& operator=(const CxLog&) = delete;

    // Queues one record; file, function and text may be null. The data block is dumped
    // in hex when both data and dataLen > 0. Returns TRUE when queued.
    BOOL Write(const wchar_t* file, const wchar_t* function, int line, int level, const wchar_t* text,
               const BYTE* data = nullptr, int dataLen = 0);
    // Windows-style wide format (%s is wide), cut to 1023 characters.
    void WriteFormat(const wchar_t* file, const wchar_t* function, int line, int level, const wchar_t* format, ...);

    // Waits until every record queued before the call is on disk; false on time-out.
    bool Flush(std::chrono::milliseconds timeout);
    // Writes what is queued (within 500 ms) and ends the writer; later calls are dropped.
    void Shutdown();

    const std::filesystem::path& FileName() const;

private:
    struct Queue;
    std::shared_ptr<Queue> queue_;  // shared with the writer, which may outlive a stuck shutdown
    std::thread writer_;
};
