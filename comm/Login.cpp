// Logging in against the server and turning a successful login into the user's folder,
// database and stored login settings; logging out; the data-sync check.
#include <chrono>
#include <filesystem>
#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "Communication.h"

#include "Config.h"
#include "CSqliteDB.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "DatabaseFile.h"
#include "FileCopy.h"
#include "Hooks.h"
#include "LoginWin.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"
#include "ThreadWait.h"
#include "Window.h"
#include "global.h"
#include "userInfo.h"

namespace {

constexpr wchar_t kSep = L'\x02';
constexpr int kPathChars = 260;
// The data-sync records carry whole SELECT statements: never cut them.
constexpr int kSyncFieldLen = kMaxPayloadLen + 1;
constexpr const wchar_t* kClientMark = L"7C2E9A04B5D1F386";
constexpr const wchar_t* kCommFailed = L"登录失败---通讯失败。";
constexpr const wchar_t* kDataError = L"登录失败---通讯数据错误。";
constexpr const wchar_t* kTooLong = L"登录失败---账号或密码过长。";
constexpr const wchar_t* kUserDataFailed = L"登录失败---无法建立用户数据。";
constexpr UINT kConfirmBox = 0x40031;  // OK/Cancel, warning icon, topmost
constexpr UINT kNoticeBox = 0x40030;   // OK, warning icon, topmost

// Set on a socket worker while it hands a re-login reply over: a synchronous request
// from there would wait for the very worker that is busy with it.
thread_local bool t_onReplyWorker = false;

class ReplyWorkerMark {
public:
    explicit ReplyWorkerMark(bool on) : m_was(t_onReplyWorker) { t_onReplyWorker = m_was || on; }
    ~ReplyWorkerMark() { t_onReplyWorker = m_was; }
    ReplyWorkerMark(const ReplyWorkerMark&) = delete;
    ReplyWorkerMark& operator=(const ReplyWorkerMark&) = delete;

private:
    const bool m_was;
};

using records::ReplyField;
using records::ReplyInt;

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(text::ToUtf8(path)); }

std::wstring SystemText() { return L"Windows[" + std::to_wstring(g_nOsVersion.load()) + L"]"; }

HWND LoginHwnd() { return g_pLoginWin != nullptr ? g_pLoginWin->GetHwnd() : nullptr; }

void ShowLoginStatus() {
    if (g_pLoginWin == nullptr) return;
    if (const HWND hwnd = g_pLoginWin->GetHwnd()) ShowWindow(hwnd, SW_SHOW);
    g_pLoginWin->PostUpdateLoginStatus();
}

// An exchange only while a network connection is up; an unused worker is freed at once,
// since nothing else would clear its busy flag.
int ExchangeIfOnline(CCommunication& comm, struCommContext* context, CSocketThread* worker) {
    DWORD flags = 0;
    if (InternetGetConnectedState(&flags, 0) == 1) return comm.SendAndRecv(context);
    worker->SetBusy(false);
    return -1;
}

}  // namespace

// ---- the login thread --------------------------------------------------------------

void CCommunication::JoinLoginAtExit(std::chrono::milliseconds bound) {
    threadwait::Thread ending;
    {
        std::lock_guard lock(m_loginParts.threadLock);
        ending = std::move(m_loginParts.thread);
    }
    if (ending.Join(bound)) return;
    LOGF(LOG_WARNING, L"CCommunication::JoinLoginAtExit", L"the login thread goes on as the program ends");
    ending.Detach();
}

void CCommunication::LoginParts::Join() {
    threadwait::Thread ending;
    {
        std::lock_guard lock(threadLock);
        ending = std::move(thread);
    }
    ending.Join();  // outside the lock: the wait serves what is sent to this thread's windows
}

int CCommunication::UserLogin_asyn(const std::wstring& account, const std::wstring& password, bool rememberPassword,
                                   bool autoLoginWhenRun) {
    SetLoginAccount(account);
    SetLoginPassword(password);
    m_bRememberPassword = rememberPassword;
    m_bAutoLoginWhenRun = autoLoginWhenRun;
    // The page starts no login while one runs, so the last thread has ended or is ending.
    m_loginParts.Join();
    std::lock_guard lock(m_loginParts.threadLock);
    // One started meanwhile, by what the wait served, is the login under way.
    if (!m_loginParts.thread.joinable())
        m_loginParts.thread = threadwait::Thread([this] { UserLogin_syn(GetLoginAccount(), GetLoginPassword()); });
    return 0;
}

bool CCommunication::FillLoginContext(struCommContext* context, const std::wstring& account,
                                      const std::wstring& password, const wchar_t* marker) {
    std::wstring payload;
    for (const std::wstring& f : {account, password, g_Config.m_config.version, std::wstring(L"0"),
                                  g_Config.m_config.macAddress, std::wstring(kClientMark), SystemText(),
                                  std::wstring(marker)}) {
        payload += f;
        payload += kSep;
    }
    if (FillPayload(context, COMMAND_USER_LOGIN, COMM_MODE_SYNC, payload)) return true;
    LOGF(LOG_ERROR, L"CCommunication::FillLoginContext", L"login payload too long [%s]", account.c_str());
    return false;
}

void CCommunication::FailLogin(int mode, int retCode, const std::wstring& message) {
    m_nRetCode = retCode;
    SetStatusText(message);
    if (mode == COMM_MODE_ASYNC) {
        m_nLoginState = 3;
        LOGF(LOG_ERROR, L"CCommunication::LoginBussProc", L"[%s]登录失败[%d][%s]! 结束程序。", GetUserID().c_str(),
             retCode, message.c_str());
        AppExit();
        return;
    }
    // First: the page reads the state when the status notice arrives.
    m_nLoginState = 3;
    ShowLoginStatus();
}

int CCommunication::UserLogin_syn(const std::wstring& account, const std::wstring& password) {
    struCommContext* context = AllocateContext();
    if (context == nullptr) {
        FailLogin(COMM_MODE_SYNC, -1, kCommFailed);
        return -1;
    }
    CSocketThread* worker = LockOneMinConnect();
    if (worker == nullptr) {
        FreeContext(context);
        FailLogin(COMM_MODE_SYNC, -1, kCommFailed);
        return -2;
    }
    m_nLoginState = 1;
    if (!FillLoginContext(context, account, password, L"syn")) {
        worker->SetBusy(false);
        FreeContext(context);
        FailLogin(COMM_MODE_SYNC, -2, kTooLong);
        return -2;
    }
    context->pSocketThread = worker;

    const int result = ExchangeIfOnline(*this, context, worker);
    if (result <= 0) {
        FreeContext(context);
        FailLogin(COMM_MODE_SYNC, -1, kCommFailed);
        return 0;
    }
    const std::wstring reply = GetReplyText(context);
    FreeContext(context);
    if (reply.empty()) {
        FailLogin(COMM_MODE_SYNC, -2, kDataError);
        return 0;
    }
    LoginBussProc(reply, COMM_MODE_SYNC);
    return m_nRetCode;
}

int CCommunication::ReLogin_asyn(const std::wstring& account, const std::wstring& password) {
    struCommContext* context = AllocateContext();
    if (context == nullptr) return -1;
    CSocketThread* worker = LockOneMinConnect();
    if (worker == nullptr) {
        FreeContext(context);
        return -1;
    }
    if (!FillLoginContext(context, account, password, L"asyn")) {
        worker->SetBusy(false);
        FreeContext(context);
        return -1;
    }
    context->nMode = COMM_MODE_ASYNC;
    context->pSocketThread = worker;
    return worker->Push(context);
}

// ---- the login reply ---------------------------------------------------------------

bool CCommunication::IsSafeUserID(std::wstring_view userID) {
    if (userID.empty() || userID.find(L"..") != std::wstring_view::npos) return false;
    for (const wchar_t c : userID) {
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                        c == L'_' || c == L'-' || c == L'.' || c == L'@';
        if (!ok) return false;
    }
    return true;
}

int CCommunication::LoginBussProc(const std::wstring& reply, int mode) {
    const ReplyWorkerMark onWorker(mode == COMM_MODE_ASYNC);
    const int code = records::ReplyResult(L"CCommunication::LoginBussProc", COMMAND_USER_LOGIN, reply);
    m_nRetCode = code;
    SetStatusText(ReplyField(reply, 2));

    if (code == 0) return LoginSucceeded(reply, mode);

    if (code == -4) {
        if (const HWND hwnd = LoginHwnd()) ShowWindow(hwnd, SW_HIDE);
        MessageBoxW(nullptr, GetStatusText().c_str(), L"提示", kNoticeBox);
        ShellExecuteW(g_pMainFrame ? g_pMainFrame->GetHwnd() : nullptr, nullptr,
                      g_Config.m_config.updateHtml.c_str(), nullptr, nullptr, SW_HIDE);
        // Hiding the window alone would leave a process without any window.
        AppExit();
        return 0;
    }

    if (code == -5) {
        if (const HWND hwnd = LoginHwnd()) {
            if (MessageBoxW(hwnd, L"Quorvix客户端有新版本了，您需要升级到新版本才能继续使用。", L"请确认",
                            kConfirmBox) == IDCANCEL) {
                AppExit();
                return 0;
            }
        }
        // One argument, the fields each ended by '|': no shell sees them.
        std::wstring line;
        for (const std::wstring& f : {ReplyField(reply, 4), g_Config.m_config.version, ReplyField(reply, 3), ReplyField(reply, 5),
                                      ReplyField(reply, 6), ReplyField(reply, 7)}) {
            line += f;
            line += L'|';
        }
        if (!Hooks().startProgram || !Hooks().startProgram(L"Brevik.exe", {line}))
            LOGF(LOG_ERROR, L"CCommunication::LoginBussProc", L"Brevik.exe [%s] not started", line.c_str());
        AppExit();
        return 0;
    }

    FailLogin(mode, code, GetStatusText());
    return 0;
}

int CCommunication::LoginSucceeded(const std::wstring& reply, int mode) {
    constexpr const wchar_t* kFn = L"CCommunication::LoginBussProc";
    struConfig& config = g_Config.m_config;

    // The user ID names a folder and a file: nothing from the server leaves binDir.
    const std::wstring userID = ReplyField(reply, 8);
    if (!IsSafeUserID(userID)) {
        LOGF(LOG_ERROR, kFn, L"invalid user ID [%s] refused", userID.c_str());
        FailLogin(mode, -2, kDataError);
        return 0;
    }

    m_nAreaNo = ReplyInt(reply, 3);
    const int areaCodeNo = ReplyInt(reply, 4);
    if (areaCodeNo > 0 && areaCodeNo != config.AreaCodeNo) {
        g_Config.SetDefaultConfigDBKeyValue(L"AreaCodeNo", std::to_wstring(areaCodeNo));
        m_nAreaCodeNo = areaCodeNo;
    } else if (areaCodeNo <= 0) {
        m_nAreaCodeNo = config.AreaCodeNo;
    }
    SetAddressNote(ReplyField(reply, 5));
    const int userNo = ReplyInt(reply, 7);
    m_nUserNo = userNo;
    SetUserID(userID);

    if (userID == config.LoginAccount && userNo != config.UserNo && config.UserNo > 0) {
        std::wstring note;
        FormatCut(note, 520, L"可能是相同账户ID在不同的服务器端注册使用：ID[%s],用户编号[%d],上次用户编号[%d]",
                  userID.c_str(), userNo, config.UserNo);
        LOGF(LOG_ERROR, kFn, L"%s", note.c_str());
        if (const HWND hwnd = LoginHwnd()) {
            if (MessageBoxW(hwnd, note.c_str(), L"请确认", kConfirmBox) == IDCANCEL) {
                AppExit();
                return 0;
            }
        }
    }

    // A cut path would name another file: refuse it instead.
    std::wstring dbPath;
    std::wstring folder;
    if (!FormatCut(dbPath, kPathChars, L"%s/quorv_%s/Quorv10_%s.db", config.binDir.c_str(), userID.c_str(),
                   userID.c_str()) ||
        !FormatCut(folder, kPathChars, L"%s/quorv_%s", config.binDir.c_str(), userID.c_str())) {
        if (mode == COMM_MODE_SYNC) FailLogin(mode, -2, kUserDataFailed);
        return 0;
    }
    config.userDBName = dbPath;

    std::error_code ec;
    if (!std::filesystem::exists(FsPath(folder), ec) && !std::filesystem::create_directory(FsPath(folder), ec)) {
        LOGF(LOG_ERROR, kFn, L"CreateDirectory[%s] err!!!", folder.c_str());
        if (mode == COMM_MODE_SYNC) FailLogin(mode, -2, kUserDataFailed);
        return 0;
    }
    if (!std::filesystem::exists(FsPath(dbPath), ec)) {
        // Whole or not at all: a half copy left under the name would pass for the user's database.
        RemoveDatabaseLeftovers(dbPath);
        if (!CopyFileW(config.tempDBName.c_str(), dbPath.c_str(), TRUE)) {
            LOGF(LOG_ERROR, kFn, L"CopyFileEx[%s]to[%s] err!!!", config.tempDBName.c_str(), dbPath.c_str());
            if (mode == COMM_MODE_SYNC) FailLogin(mode, -2, kUserDataFailed);
            return 0;
        }
        m_bNewDatabase = true;
    }

    const std::wstring account = GetLoginAccount();
    if (account != config.LoginAccount) g_Config.WriteProfileString(L"Login", L"LoginAccount", account.c_str());
    const bool remember = m_bRememberPassword;
    if (remember) {
        const std::string encoded = Base64Encode(text::ToAnsi(GetLoginPassword()), 1000);
        const std::wstring stored = L"$" + text::FromAnsi(encoded);
        g_Config.WriteProfileString(L"Login", L"LoginPassword", stored.c_str());
        g_Config.WriteProfileString(L"Login", L"UserID", userID.c_str());
        g_Config.WriteProfileString(L"Login", L"UserNo", std::to_wstring(userNo).c_str());
    } else {
        g_Config.WriteProfileString(L"Login", L"LoginPassword", L"");
        g_Config.WriteProfileString(L"Login", L"UserNo", L"");
        g_Config.WriteProfileString(L"Login", L"UserID", L"");
    }
    if (remember != config.RememberPassword)
        g_Config.WriteProfileString(L"Login", L"RememberPassword", remember ? L"1" : L"0");
    const bool autoLogin = m_bAutoLoginWhenRun;
    if (autoLogin != config.AutoLoginWhenRun)
        g_Config.WriteProfileString(L"Login", L"AutoLoginWhenRun", autoLogin ? L"1" : L"0");

    // A keep-alive answered while the data loads (the main window sends one as it opens)
    // compares with the sync number this login brings, not with a record not yet taken.
    if (g_pUserInfo != nullptr) g_pUserInfo->ExpectLoginRecord(reply);
    LoginAfterDataProc();
    if (g_pUserInfo != nullptr) g_pUserInfo->UserLoginDataProc(reply);
    PluseCheck_asyn(-1);
    m_nLoginState = 2;
    return 0;
}

int CCommunication::LoginAfterDataProc() {
    // The user database's settings, and possibly a fresh copy of it, before its data is loaded.
    g_Config.ReadAllConfig();
    LoadAllData();
    if (m_bNewDatabase && g_pMyDatabase != nullptr) {
        std::wstring sql;
        if (FormatCut(sql, 520, L"update tHealthElement set userNo=%d, modifyTime = datetime('now','localtime');",
                      m_nUserNo.load()))
            g_pMyDatabase->ExecSQL(sql);
    }
    return 0;
}

// ---- logout ------------------------------------------------------------------------

int CCommunication::UserLogout_syn() {
    if (g_nRunState == 4) return -1;
    struCommContext* context = AllocateContext();
    if (context == nullptr) return -1;
    CSocketThread* worker = LockOneMinConnect();
    if (worker == nullptr) {
        FreeContext(context);
        return -1;
    }
    const int userNo = m_nUserNo;
    std::wstring payload = std::to_wstring(userNo) + kSep;
    for (const std::wstring& f : {g_Config.m_config.version, g_Config.m_config.macAddress, std::wstring(kClientMark),
                                  SystemText(), std::wstring(L"note")}) {
        payload += f;
        payload += kSep;
    }
    if (g_nRunState == 4 || userNo < 0 || !FillPayload(context, COMMAND_USER_LOGOUT, COMM_MODE_SYNC, payload)) {
        worker->SetBusy(false);
        FreeContext(context);
        return -1;
    }
    context->pSocketThread = worker;
    const int result = ExchangeIfOnline(*this, context, worker);
    if (result <= 0) LOGF(LOG_WARNING, L"CCommunication::UserLogout_syn", L"UserLogout_syn:[%d]", result);
    FreeContext(context);
    return result;
}

int CCommunication::UserLogoutAtExit(std::chrono::milliseconds bound) {
    struct Outcome {
        std::atomic<int> result{-1};
        std::atomic<bool> over{false};
    };
    auto outcome = std::make_shared<Outcome>();
    {
        std::lock_guard lock(m_logoutParts.threadLock);
        if (m_logoutParts.thread.joinable()) return -1;  // one logout per run
        m_logoutParts.thread = threadwait::Thread([this, outcome] {
            outcome->result = UserLogout_syn();
            outcome->over = true;
        });
    }
    if (threadwait::WaitForOtherThread([&outcome] { return outcome->over.load(); }, bound)) return outcome->result;
    LOGF(LOG_WARNING, L"CCommunication::UserLogout_syn", L"UserLogout_syn: no reply within %d ms, the exit goes on",
         static_cast<int>(bound.count()));
    return -1;
}

// ---- data-sync check ---------------------------------------------------------------

namespace {
// A hit: the server's SELECT, when it cannot change anything, returns exactly one row
// whose first column is 1.
bool RunSyncCheckQuery(const std::wstring& dbPath, const std::wstring& sql) {
    if (g_pMyDatabase == nullptr || sql.empty()) return false;
    try {
        CSqliteDB db;
        db.open(dbPath);
        if (!db.isReadOnly(sql)) {
            LOGF(LOG_WARNING, L"CCommunication::RunSyncCheckQuery", L"not read-only, skipped: [%s]", sql.c_str());
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    SqlRows rows;
    return g_pMyDatabase->SelectTableWithReturnFromDB(dbPath, sql, rows) == 0 && rows.size() == 1 &&
           !rows.front().empty() && text::WToI(rows.front().front().c_str()) == 1;
}
}  // namespace

int CCommunication::DataSyncCheckProc(const std::wstring& reply) {
    int hits = 0;
    for (int n = 1;; ++n) {
        const std::wstring record = GetValue(reply, n, L'\x03', kSyncFieldLen);
        if (record.empty()) break;
        const std::wstring dbName = ReplyField(record, 3);
        std::wstring dbPath;
        if (dbName == L"userDB")
            dbPath = g_Config.m_config.userDBName;
        else if (dbName == L"defaultDB")
            dbPath = g_Config.m_config.tempDBName;
        else
            break;
        if (RunSyncCheckQuery(dbPath, ReplyField(record, 8, kSyncFieldLen))) ++hits;
    }
    return hits;
}

int CCommunication::QuestDataSyncCheck_syn(const std::wstring& userID, const std::wstring&) {
    if (t_onReplyWorker) {
        LOGF(LOG_WARNING, L"CCommunication::QuestDataSyncCheck_syn", L"skipped on the socket worker");
        return 0;
    }
    struCommContext* context = AllocateContext();
    if (context == nullptr) return -1;
    CSocketThread* worker = LockOneIdleConnect(3000);
    if (worker == nullptr) {
        FreeContext(context);
        return -2;
    }
    std::wstring payload = userID + kSep + L"-1" + kSep + L"-1" + kSep + L"syn" + kSep;
    if (!FillPayload(context, COMMAND_DATASYNC_CHECK, COMM_MODE_SYNC, payload)) {
        worker->SetBusy(false);
        FreeContext(context);
        return 0;
    }
    context->pSocketThread = worker;
    const int result = ExchangeIfOnline(*this, context, worker);
    const std::wstring reply = result > 0 ? GetReplyText(context) : std::wstring();
    FreeContext(context);
    return !reply.empty() && DataSyncCheckProc(reply) > 0 ? 1 : 0;
}
