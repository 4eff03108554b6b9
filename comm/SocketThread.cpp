#include "SocketThread.h"

#include <chrono>
#include <system_error>
#include <vector>

#include "Communication.h"
#include "CxLog.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "ThreadWait.h"

namespace {
// How often an idle worker looks at the run state.
constexpr auto kRunStatePoll = std::chrono::milliseconds(50);
}

CSocketThread::CSocketThread(CCommunication& owner) : m_owner(owner) {}

CSocketThread::~CSocketThread() {
    Stop();
    ClearQueue();
}

int CSocketThread::Start(int index) {
    if (m_thread.joinable()) return 0;
    m_nIndex = index;
    // The client exists before the thread that uses it.
    if (!m_pClient) {
        try {
            m_pClient = std::make_unique<SocketClientImpl>();
        } catch (const std::bad_alloc&) {
            return -3;
        }
    }
    m_nStop = 0;
    m_bRunning = true;
    try {
        m_thread = std::thread(&CSocketThread::Run, this);
    } catch (const std::system_error&) {
        m_nStop = 1;
        m_bRunning = false;
        LOGF(LOG_ERROR, L"CSocketThread::Start", L"CreateThread fail!!!");
        return -2;
    }
    return 0;
}

void CSocketThread::Stop() {
    {
        std::lock_guard lock(m_queueLock);
        m_nStop = 1;
        m_bSignalled = true;
    }
    m_event.notify_all();
    threadwait::Join(m_thread);
}

int CSocketThread::Push(struCommContext* context) {
    if (context == nullptr) return -1;
    bool refused;
    {
        std::lock_guard lock(m_queueLock);
        refused = !m_owner.IsOnline() && static_cast<int>(m_queue.size()) >= kOfflineQueueLimit;
        if (!refused) {
            m_queue.push_back(context);
            m_nQueueSize = static_cast<int>(m_queue.size());
            m_bSignalled = true;
        }
    }
    if (refused) {
        m_nBusy = 0;
        Drop(context);
        return -1;
    }
    m_event.notify_one();
    return 0;
}

int CSocketThread::ClearQueue() {
    std::deque<struCommContext*> dropped;
    {
        std::lock_guard lock(m_queueLock);
        dropped.swap(m_queue);
        m_nQueueSize = 0;
    }
    // Outside the queue lock: the failure handling and the pool take their own locks.
    for (struCommContext* context : dropped) Drop(context);
    return 0;
}

void CSocketThread::Drop(struCommContext* context) {
    m_owner.SendFailedProc(-1, context);
    if (context->nMode == COMM_MODE_ASYNC) m_owner.FreeContext(context);
}

void CSocketThread::Run() {
    for (;;) {
        if (g_nRunState == 4) break;
        struCommContext* context = nullptr;
        {
            std::unique_lock lock(m_queueLock);
            while (g_nRunState != 4 && m_nStop == 0 && m_queue.empty()) {
                // Timed, so that the end of the program is seen without a request.
                threadwait::WaitFor(m_event, lock, kRunStatePoll, [this] { return m_bSignalled; });
                m_bSignalled = false;
            }
            if (m_nStop != 0 || m_queue.empty()) break;
            context = m_queue.front();
            m_queue.pop_front();
            m_nQueueSize = static_cast<int>(m_queue.size());
        }
        context->pSocketThread = this;
        m_owner.SendAndRecv(context);
        m_nBusy = 0;
    }
    LOGF(LOG_WARNING, L"CSocketThread::Run", L"CSocketThread::Run exit...");
    if (g_nRunState == 4) Sleep(500);
    LOGF(LOG_WARNING, L"CSocketThread::Run", L"CSocketThread::Run exit.");
    m_bRunning = false;
}
