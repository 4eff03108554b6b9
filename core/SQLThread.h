// The connection through which single write statements reach the user database, and
// a worker thread that runs statements pages queue without making them wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "CSqliteDB.h"

class CMyDatabase;
class CSqliteException;

class CSQLThread {
public:
    explicit CSQLThread(CMyDatabase& owner);
    // Ends the worker; statements still queued are logged, not lost silently.
    ~CSQLThread();
    CSQLThread(const CSQLThread&) = delete;
    CSQLThread& operator=(const CSQLThread&) = delete;

    void SetDBPath(const std::wstring& path);
    int OpenDB();
    void CloseDB();
    // Rows changed, or -1 when the table lock could not be had or the statement failed.
    int ExecSQL(const std::wstring& sql);
    // The new row's id (low 32 bits), 0 when the statement failed, -1 without the lock.
    int InsertTableWithReturnRowID(const std::wstring& sql);
    int PostSQL(std::wstring sql);
    // 0 (also when already running), -2 when the worker cannot be started.
    int Start(const std::wstring& dbPath);
    int Run();

private:
    // Runs one statement under the table lock with the connection open around it.
    template <class Step>
    int RunLocked(const std::wstring& sql, const wchar_t* function, int failure, Step step);
    int OpenDBLocked();
    void CloseDBLocked();
    void LogDropped();
    // The log level of a failure: an error for the first of each file-system refusal.
    int LevelOf(const CSqliteException& e);

    CMyDatabase& owner_;
    std::mutex queueLock_;
    std::condition_variable wakeUp_;
    std::deque<std::wstring> queue_;
    std::wstring dbPath_;
    // Whoever holds the table lock uses the connection; this guard keeps it whole even
    // when a page releases a lock another thread holds.
    std::mutex connectionLock_;
    CSqliteDB db_;
    int openFlag_ = 0;
    std::atomic<int> stopped_{1};
    std::thread worker_;
};
