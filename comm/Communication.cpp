#include "Communication.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Config.h"
#include "CxLog.h"
#include "Hooks.h"
#include "MainFrame.h"
#include "Quorvix.h"
#include "Text.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"
#include "userInfo.h"

CCommunication* g_pCommunication = nullptr;

namespace {
constexpr const wchar_t* kUserInfoUploadFailed = L"修改用户信息失败。(通信故障)";
constexpr const wchar_t* kDeviceUploadFailed = L"请在网络通畅的情况下，使用设备管理功能。";
}

CCommunication::CCommunication() {
    CSocketHandle::InitLibrary(0x0202);
    m_dwSeqNo = GetTickCount();
    m_loginAccount = g_Config.m_config.LoginAccount;
    m_loginPassword = g_Config.m_config.LoginPassword;
    m_bRememberPassword = g_Config.m_config.RememberPassword;
    m_bAutoLoginWhenRun = g_Config.m_config.AutoLoginWhenRun;
}

CCommunication::~CCommunication() {
    // The login in flight first: it uses the workers and the pool.
    m_loginParts.Join();
    m_logoutParts.Join();
    // Then the workers: their threads and queues still use the pool.
    for (auto& worker : m_socketThreads) {
        std::unique_ptr<CSocketThread> gone;
        {
            std::lock_guard lock(m_tableLock);
            gone = std::move(worker);
        }
    }
    FreeAllContexts();
    CSocketHandle::ReleaseLibrary();
}

// ---- contexts --------------------------------------------------------------------

struCommContext* CCommunication::AllocateContext() {
    std::lock_guard lock(m_poolLock);
    std::unique_ptr<struCommContext> context;
    if (m_freeContexts.empty()) {
        try {
            context = std::make_unique<struCommContext>();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        if (++m_nMaxContexts > kMaxContextsWarning)
            LOGF(LOG_WARNING, L"CCommunication::AllocateContext", L"m_nMaxContexts > 500");
    } else {
        context = std::move(m_freeContexts.back());
        m_freeContexts.pop_back();
    }
    context->nInUse = 1;
    struCommContext* raw = context.get();
    m_usedContexts.emplace(raw, std::move(context));
    return raw;
}

void CCommunication::FreeContext(struCommContext* context) {
    if (context == nullptr) return;
    std::lock_guard lock(m_poolLock);
    const auto it = m_usedContexts.find(context);
    if (it == m_usedContexts.end()) return;
    std::unique_ptr<struCommContext> owned = std::move(it->second);
    m_usedContexts.erase(it);
    // One more than the limit may be held, as the pool always allowed.
    if (static_cast<int>(m_freeContexts.size()) > kFreeContextLimit) return;
    *owned = struCommContext{};
    m_freeContexts.push_back(std::move(owned));
}

void CCommunication::FreeAllContexts() {
    std::lock_guard lock(m_poolLock);
    m_freeContexts.clear();
}

int CCommunication::GetFreeContextCount() const {
    std::lock_guard lock(m_poolLock);
    return static_cast<int>(m_freeContexts.size());
}

int CCommunication::GetMaxContexts() const {
    std::lock_guard lock(m_poolLock);
    return m_nMaxContexts;
}

// ---- packets ---------------------------------------------------------------------

DWORD CCommunication::GetSeqNo() {
    std::lock_guard lock(m_seqLock);
    const DWORD tick = GetTickCount();
    m_dwSeqNo = tick > m_dwSeqNo ? tick : m_dwSeqNo + 1;
    return m_dwSeqNo;
}

void CCommunication::InvertBytes(const char* input, int length, char* output, int* outLength) {
    for (int i = 0; i < length; ++i) output[i] = static_cast<char>(~static_cast<unsigned char>(input[i]));
    if (outLength) *outLength = length;
}

int CCommunication::SendAndRecv(struCommContext* context) {
    if (context == nullptr) return -1;
    int result = -1;
    const auto commandId = static_cast<std::uint16_t>(context->nCommandID);
    const DWORD seqNo = GetSeqNo();
    CSocketThread* worker = context->pSocketThread;
    SocketClientImpl* client = worker ? worker->GetClient() : nullptr;

    if (context->nDataLen >= 0 && context->nDataLen <= kMaxPayloadLen && client) {
        std::array<char, kMaxPacketLen> packet;
        struPackHead head{7 + context->nDataLen, commandId, seqNo, kInvertedFlag};
        std::memcpy(packet.data(), &head, kPackHeadSize);
        int payloadLen = 0;
        InvertBytes(context->szData, context->nDataLen, packet.data() + kPackHeadSize, &payloadLen);

        std::array<char, SocketClientImpl::kBufferSize> reply;
        {
            // The worker and a synchronous request may share this client.
            std::lock_guard exchange(client->ExchangeLock());
            result = client->SendWithFailover(packet.data(), kPackHeadSize + payloadLen, true);
            if (result > 0) {
                result = std::min(result, client->GetRecvLength());
                std::memcpy(reply.data(), client->GetRecvBuffer(), static_cast<std::size_t>(result));
            }
        }

        if (result < 1) {
            // A refused reply came from a server that is up: it fails only its own request,
            // and the requests queued behind it stay.
            if (result != SocketClientImpl::kReplyRefused) TrackOnline(false);
            LOGF(LOG_WARNING, L"CCommunication::SendAndRecv", L"CCommunication::SendAndRecv=[%d]", result);
        } else {
            result = TakeReply(context, reply.data(), result, commandId, seqNo);
            if (result > 0) {
                TrackOnline(true);
                if (context->nMode == COMM_MODE_ASYNC) BussProc(context);
            }
        }
    }

    if (context->nMode == COMM_MODE_SYNC && worker) worker->SetBusy(false);
    SendFailedProc(result, context);
    if (context->nMode == COMM_MODE_ASYNC) FreeContext(context);
    return result;
}

int CCommunication::TakeReply(struCommContext* context, const char* reply, int length, std::uint16_t commandId,
                              DWORD seqNo) {
    constexpr const wchar_t* kFn = L"CCommunication::SendAndRecv";
    struPackHead got{};
    std::memcpy(&got, reply, std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), kPackHeadSize));
    if (length < kPackHeadSize || static_cast<std::int64_t>(got.nPackLen) + 4 != length) {
        LOGF(LOG_ERROR, kFn, L"CCommunication::SendAndRecv:[%d][%d][%x]数据长度无效", got.nPackLen, length, commandId);
        return -1;
    }
    if (got.nCommandID != commandId || got.nSeqNo != seqNo) {
        LOGF(LOG_WARNING, kFn, L"CCommunication::SendAndRecv:[%x][%x][%d][%d]回应包数据有误", got.nCommandID, commandId,
             got.nSeqNo, seqNo);
        return -1;
    }
    if (length > kMaxPayloadLen) {
        LOGF(LOG_WARNING, kFn, L"CCommunication::SendAndRecv:len=[%d]>4096,[%x][%x][%d][%d]!", length, got.nCommandID,
             commandId, got.nSeqNo, seqNo);
        return -1;
    }
    std::memcpy(context->szRecv, reply, static_cast<std::size_t>(length));
    context->szRecv[length] = '\0';
    context->nRecvLen = length;
    if (got.cInverted == kInvertedFlag)
        InvertBytes(context->szRecv + kPackHeadSize, length - kPackHeadSize, context->szRecv + kPackHeadSize, nullptr);
    return length;
}

void CCommunication::TrackOnline(bool success) {
    bool notify = false;
    if (success) {
        if (m_bOnline.exchange(1) == 0) {
            m_nOnlineCount = 0;
            notify = true;
        } else {
            ++m_nOnlineCount;
        }
    } else if (m_bOnline.exchange(0) == 1) {
        m_nOnlineCount = 0;
        ResetSocketThreads();  // going offline is not shown until it persists
    } else if (m_nOnlineCount.fetch_add(1) + 1 > 2) {
        m_nOnlineCount = 0;
        notify = true;
    }
    if (notify && g_pMainFrame) g_pMainFrame->PostBottomNetState();
}

int CCommunication::SendFailedProc(int result, struCommContext* context) {
    if (result > 0 || context == nullptr) return 0;
    if (context->nCommandID == COMMAND_USERINFO_UPLOAD && g_pUserInfo)
        g_pUserInfo->SetUpdateResult(false, -1, kUserInfoUploadFailed);
    else if (CPedometerWin* pedometer = g_pPedometer;
             context->nCommandID == COMMAND_PEDOMETER_ORIGDATA_UPLOAD && pedometer)
        pedometer->m_uploadState.Set({false, -1, kDeviceUploadFailed});
    else if (CBloodPressureWin* monitor = g_pBloodPressure;
             context->nCommandID == COMMAND_BLOODPRESSURE_DATA_UPLOAD && monitor)
        monitor->m_uploadState.Set({false, -1, kDeviceUploadFailed});
    return 0;
}

std::wstring CCommunication::GetReplyText(const struCommContext* context) {
    if (context == nullptr || context->nRecvLen <= kPackHeadSize) return {};
    const int len = std::min(context->nRecvLen, kMaxPayloadLen) - kPackHeadSize;
    const char* begin = context->szRecv + kPackHeadSize;
    return text::FromAnsi(std::string_view(begin, strnlen(begin, static_cast<std::size_t>(len))));
}

bool CCommunication::FillPayload(struCommContext* context, int commandId, int mode, const std::wstring& payload) {
    const std::string ansi = text::ToAnsi(payload);
    if (ansi.size() + 1 > sizeof context->szData) return false;
    text::CopyA(context->szData, sizeof context->szData, ansi);
    context->nDataLen = static_cast<int>(ansi.size()) + 1;
    context->nCommandID = commandId;
    context->nMode = mode;
    return true;
}

// ---- workers ---------------------------------------------------------------------

int CCommunication::SetSocketThreadCount(int) {
    std::lock_guard lock(m_tableLock);
    const auto slot = std::find(m_socketThreads.begin(), m_socketThreads.end(), nullptr);
    if (slot == m_socketThreads.end()) return -1;
    auto worker = std::make_unique<CSocketThread>(*this);
    const int index = static_cast<int>(slot - m_socketThreads.begin());
    if (worker->Start(index) != 0) return -1;
    if (!m_serverHost.empty()) {
        SocketClientImpl* client = worker->GetClient();
        client->SetServer(text::ToUtf8(m_serverHost), text::ToUtf8(m_serverPort));
        client->SetSocketType(m_nSocketType);
        client->SetTimeout(m_nTimeout);
    }
    *slot = std::move(worker);
    m_nSocketThreadCount = static_cast<int>(std::count_if(m_socketThreads.begin(), m_socketThreads.end(),
                                                          [](const auto& w) { return w != nullptr; }));
    m_nAreaCodeNo = g_Config.m_config.AreaCodeNo;
    m_bNewDatabase = false;
    return 0;
}

int CCommunication::GetSocketThreadCount() const {
    std::lock_guard lock(m_tableLock);
    return m_nSocketThreadCount;
}

CSocketThread* CCommunication::GetSocketThread(int index) const {
    std::lock_guard lock(m_tableLock);
    return index >= 0 && index < kMaxSocketThreads ? m_socketThreads[static_cast<std::size_t>(index)].get() : nullptr;
}

CSocketThread* CCommunication::LockOneMinConnect() {
    std::lock_guard lock(m_tableLock);
    CSocketThread* best = nullptr;
    for (const auto& worker : m_socketThreads) {
        if (!worker) continue;
        if (worker->GetQueueSize() == 0) {
            best = worker.get();
            break;
        }
        if (!best || worker->GetQueueSize() < best->GetQueueSize()) best = worker.get();
    }
    if (best) best->SetBusy(true);
    return best;
}

CSocketThread* CCommunication::LockOneIdleConnect(int timeoutMs) {
    for (int round = 0; round < timeoutMs / 10 && g_nRunState != 4; ++round) {
        {
            std::lock_guard lock(m_tableLock);
            for (const auto& worker : m_socketThreads) {
                if (worker && !worker->IsBusy() && worker->GetQueueSize() == 0) {
                    worker->SetBusy(true);
                    return worker.get();
                }
            }
        }
        Sleep(10);
    }
    return nullptr;
}

void CCommunication::ResetSocketThreads() {
    // Workers live as long as this object, so the list outlives the table lock.
    std::vector<CSocketThread*> workers;
    {
        std::lock_guard lock(m_tableLock);
        for (const auto& worker : m_socketThreads)
            if (worker) workers.push_back(worker.get());
    }
    for (CSocketThread* worker : workers) worker->ClearQueue();
}

void CCommunication::SetServer(const std::wstring& host, const std::wstring& port, int socketType, int timeout) {
    std::lock_guard lock(m_tableLock);
    m_serverHost = host;
    m_serverPort = port;
    m_nSocketType = socketType;
    m_nTimeout = timeout;
    for (const auto& worker : m_socketThreads) {
        SocketClientImpl* client = worker ? worker->GetClient() : nullptr;
        if (!client) continue;
        client->SetServer(text::ToUtf8(host), text::ToUtf8(port));
        client->SetSocketType(socketType);
        client->SetTimeout(timeout);
    }
}

void CCommunication::SetServerBak(const std::wstring& host, const std::wstring& port, int socketType, int) {
    std::lock_guard lock(m_tableLock);
    for (const auto& worker : m_socketThreads) {
        SocketClientImpl* client = worker ? worker->GetClient() : nullptr;
        if (!client) continue;
        client->SetBackupServer(text::ToUtf8(host), text::ToUtf8(port));
        client->SetBackupSocketType(socketType);
        client->SetBackupTimeout(m_nTimeout);
    }
}

// ---- login texts -------------------------------------------------------------------

std::wstring CCommunication::GetStatusText() const {
    std::lock_guard lock(m_textLock);
    return m_strRetMsg;
}
void CCommunication::SetStatusText(const std::wstring& text) {
    std::lock_guard lock(m_textLock);
    m_strRetMsg = text;
}
std::wstring CCommunication::GetLoginAccount() const {
    std::lock_guard lock(m_textLock);
    return m_loginAccount;
}
void CCommunication::SetLoginAccount(const std::wstring& account) {
    std::lock_guard lock(m_textLock);
    m_loginAccount = account;
}
std::wstring CCommunication::GetLoginPassword() const {
    std::lock_guard lock(m_textLock);
    return m_loginPassword;
}
void CCommunication::SetLoginPassword(const std::wstring& password) {
    std::lock_guard lock(m_textLock);
    m_loginPassword = password;
}
std::wstring CCommunication::GetUserID() const {
    std::lock_guard lock(m_textLock);
    return m_userID;
}
void CCommunication::SetUserID(const std::wstring& userID) {
    std::lock_guard lock(m_textLock);
    m_userID = userID;
}
std::wstring CCommunication::GetAddressNote() const {
    std::lock_guard lock(m_textLock);
    return m_addressNote;
}
void CCommunication::SetAddressNote(const std::wstring& note) {
    std::lock_guard lock(m_textLock);
    m_addressNote = note;
}

int LoggedInUserNo() {
    const CCommunication* comm = g_pCommunication;
    return comm != nullptr ? comm->m_nUserNo.load() : -1;
}
