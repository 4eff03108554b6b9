// A socket worker: a queue of asynchronous requests carried one after another, in the
// order queued, on a thread of its own, through the worker's socket client.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "SocketClientImpl.h"

class CCommunication;
struct struCommContext;

class CSocketThread {
public:
    // While offline a queue holds at most this many requests.
    static constexpr int kOfflineQueueLimit = 10;

    explicit CSocketThread(CCommunication& owner);
    // Stops and joins the thread; requests still queued reach the failure handling.
    ~CSocketThread();
    CSocketThread(const CSocketThread&) = delete;
    CSocketThread& operator=(const CSocketThread&) = delete;

    // 0 started (or running already), -2 the thread could not be made, -3 no client.
    int Start(int index);
    // Ends the loop and joins the thread.
    void Stop();

    int GetIndex() const { return m_nIndex; }
    // True from Start until the loop has ended.
    bool IsRunning() const { return m_bRunning.load(); }
    int GetQueueSize() const { return m_nQueueSize.load(); }
    // Null before Start.
    SocketClientImpl* GetClient() { return m_pClient.get(); }

    // 0 queued, -1 refused (offline with a full queue); a refused request has been
    // through the failure handling and, when asynchronous, is back in the pool.
    int Push(struCommContext* context);
    // Drops every queued request through the failure handling; returns 0.
    int ClearQueue();

    // Set when a request is chosen for this worker, cleared after each exchange; a
    // caller that takes the worker and then does not queue clears it itself.
    void SetBusy(bool busy) { m_nBusy = busy ? 1 : 0; }
    bool IsBusy() const { return m_nBusy.load() != 0; }

private:
    void Run();
    // Hands a request that will not be carried to the failure handling and the pool.
    void Drop(struCommContext* context);

    CCommunication& m_owner;
    std::deque<struCommContext*> m_queue;
    std::atomic<int> m_nQueueSize{0};  // read while choosing a worker, without the queue lock
    bool m_bSignalled = false;         // the auto-reset event, under the queue lock
    std::condition_variable m_event;
    int m_nIndex = -1;
    std::unique_ptr<SocketClientImpl> m_pClient;
    std::atomic<int> m_nStop{1};
    std::atomic<int> m_nBusy{0};
    std::atomic<bool> m_bRunning{false};
    mutable std::mutex m_queueLock;
    std::thread m_thread;
};
