#include "SQLThread.h"

#include <chrono>

#include "CSqliteException.h"
#include "Config.h"
#include "CxLog.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "ThreadWait.h"

namespace {
// The worker looks at the run state this often while it has nothing to do.
constexpr auto kRunStatePoll = std::chrono::milliseconds(100);
}  // namespace

CSQLThread::CSQLThread(CMyDatabase& owner) : owner_(owner) {}

CSQLThread::~CSQLThread() {
    stopped_ = 1;
    wakeUp_.notify_all();
    threadwait::Join(worker_);
    LogDropped();
}

void CSQLThread::SetDBPath(const std::wstring& path) { dbPath_ = path; }

int CSQLThread::LevelOf(const CSqliteException& e) {
    return owner_.FirstFileSystemRefusal(db_.causeOf(e)) ? LOG_ERROR : LOG_MESSAGE;
}

int CSQLThread::OpenDB() {
    std::lock_guard<std::mutex> guard(connectionLock_);
    return OpenDBLocked();
}

int CSQLThread::OpenDBLocked() {
    if (dbPath_.empty()) dbPath_ = g_Config.m_config.userDBName;
    if (dbPath_.empty()) {
        openFlag_ = 0;
        return -1;
    }
    try {
        db_.open(dbPath_);
        openFlag_ = 1;
        return 0;
    } catch (const CSqliteException& e) {
        LOGF(LevelOf(e), L"CSQLThread::OpenDB", L"CSqliteException[%s]:[%d][%s]", L"OpenDB", e.errorCode(),
             e.errorMessage());
        openFlag_ = 0;
        return -1;
    }
}

void CSQLThread::CloseDB() {
    std::lock_guard<std::mutex> guard(connectionLock_);
    CloseDBLocked();
}

void CSQLThread::CloseDBLocked() {
    try {
        db_.close();
    } catch (const CSqliteException& e) {
        LOGF(LOG_MESSAGE, L"CSQLThread::CloseDB", L"CSqliteException[%s]:[%d][%s]", L"CloseDB", e.errorCode(),
             e.errorMessage());
    }
    openFlag_ = 0;
}

template <class Step>
int CSQLThread::RunLocked(const std::wstring& sql, const wchar_t* function, int failure, Step step) {
    if (owner_.LockSqliteTable(L"", -1) != 0) return -1;
    int result = failure;
    {
        std::lock_guard<std::mutex> guard(connectionLock_);
        try {
            if (openFlag_ == 0) OpenDBLocked();
            result = step();
        } catch (const CSqliteException& e) {
            LOGF(LevelOf(e), function, L"CSqliteException[%s]:[%d][%s]", sql.c_str(), e.errorCode(), e.errorMessage());
            result = failure;
        }
        CloseDBLocked();
    }
    owner_.UnLockSqliteTable(L"");
    return result;
}

int CSQLThread::ExecSQL(const std::wstring& sql) {
    return RunLocked(sql, L"CSQLThread::ExecSQL", -1, [&] { return db_.execDML(sql); });
}

int CSQLThread::InsertTableWithReturnRowID(const std::wstring& sql) {
    return RunLocked(sql, L"CSQLThread::InsertTableWithReturnRowID", 0, [&] {
        db_.execDML(sql);
        return static_cast<int>(static_cast<std::uint32_t>(db_.lastRowId()));
    });
}

int CSQLThread::PostSQL(std::wstring sql) {
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        queue_.push_back(std::move(sql));
    }
    wakeUp_.notify_one();
    return 0;
}

int CSQLThread::Start(const std::wstring& dbPath) {
    if (stopped_ == 0) return 0;
    SetDBPath(dbPath);
    stopped_ = 0;
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        stopped_ = 1;  // nothing runs behind a failed start
        LOGF(LOG_ERROR, L"CSQLThread::Star", L"CreateThread fail!!!");
        return -2;
    }
    return 0;
}

int CSQLThread::Run() {
    OpenDB();
    auto running = [this] { return stopped_ == 0 && g_nRunState != 4; };
    while (running()) {
        std::wstring sql;
        {
            std::unique_lock<std::mutex> guard(queueLock_);
            while (running() && queue_.empty())
                threadwait::WaitFor(wakeUp_, guard, kRunStatePoll, [&] { return !running() || !queue_.empty(); });
            if (!running()) break;
            sql = std::move(queue_.front());
            queue_.pop_front();
        }
        ExecSQL(sql);
    }
    LOGF(LOG_WARNING, L"CSQLThread::Run", L"CSQLThread::Run exit...");
    LogDropped();
    CloseDB();
    LOGF(LOG_WARNING, L"CSQLThread::Run", L"CSQLThread::Run exit.");
    return 0;
}

void CSQLThread::LogDropped() {
    std::deque<std::wstring> dropped;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        dropped.swap(queue_);
    }
    for (const auto& sql : dropped) {
        LOGF(LOG_WARNING, L"CSQLThread::Run", L"SQL not run at exit:[%s]", sql.c_str());
    }
}
