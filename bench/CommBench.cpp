// Round trips of one small request against an echo server on 127.0.0.1: on the caller's
// thread, and queued through the socket worker.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "Communication.h"
#include "Socket.h"
#include "pedometerWin.h"

namespace {

// Sends every request back as its reply: same id and sequence, still inverted.
class EchoServer {
public:
    EchoServer() {
        net::SockAddr address;
        listener_ = net::Open(net::kAfInet, net::kSockStream);
        net::SetReuseAddress(listener_, true);
        net::Resolve("127.0.0.1", "0", net::kAfInet, net::kSockStream, true, address);
        net::Bind(listener_, address);
        net::Listen(listener_, 128);
        port_ = net::LocalPort(listener_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~EchoServer() {
        stop_ = true;
        thread_.join();
        net::Close(listener_);
    }
    std::wstring Port() const { return std::to_wstring(port_); }

private:
    static bool ReadAll(net::SocketFd fd, char* p, int n) {
        for (int got = 0; got < n;) {
            if (net::WaitReadable(fd, 1000) != 1) return false;
            const int r = net::Recv(fd, p + got, static_cast<std::size_t>(n - got));
            if (r <= 0) return false;
            got += r;
        }
        return true;
    }
    void Serve() {
        char packet[kMaxPacketLen];
        while (!stop_) {
            const net::SocketFd fd = net::Accept(listener_, 50, nullptr);
            if (fd == net::kInvalidSocket) continue;
            std::int32_t len = 0;
            if (ReadAll(fd, packet, 4)) {
                std::memcpy(&len, packet, 4);
                if (len >= 7 && len + 4 <= kMaxPacketLen && ReadAll(fd, packet + 4, len))
                    net::Send(fd, packet, static_cast<std::size_t>(len) + 4);
            }
            net::Close(fd);
        }
    }

    net::SocketFd listener_ = net::kInvalidSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

constexpr char kPayload[] = "5\x02";

// Counts the echoed replies where the pedometer window would take them.
class RankReplies : public CPedometerWin {
public:
    int BussDataProc_PedoRank(const std::wstring&) override {
        std::lock_guard guard(lock);
        ++handled;
        done.notify_one();
        return 0;
    }
    std::mutex lock;
    std::condition_variable done;
    int handled = 0;
};

struCommContext* Request(CCommunication& comm, int mode) {
    struCommContext* context = comm.AllocateContext();
    context->nMode = mode;
    context->nCommandID = COMMAND_PEDORANK_QUEST;
    std::memcpy(context->szData, kPayload, sizeof kPayload);
    context->nDataLen = sizeof kPayload;
    context->pSocketThread = comm.GetSocketThread(0);
    return context;
}

void BM_SyncRoundTrip(benchmark::State& state) {
    EchoServer server;
    CCommunication comm;
    comm.SetSocketThreadCount(1);
    comm.SetServer(L"127.0.0.1", server.Port(), 1, 2000);
    for (auto _ : state) {
        struCommContext* context = Request(comm, COMM_MODE_SYNC);
        if (comm.SendAndRecv(context) <= 0) state.SkipWithError("exchange failed");
        comm.FreeContext(context);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncRoundTrip)->Iterations(5000)->UseRealTime();

void BM_QueuedRoundTrip(benchmark::State& state) {
    EchoServer server;
    RankReplies replies;
    g_pPedometer = &replies;
    {
        CCommunication comm;  // its worker ends before the replies' taker goes
        comm.SetSocketThreadCount(1);
        comm.SetServer(L"127.0.0.1", server.Port(), 1, 2000);
        int sent = 0;
        for (auto _ : state) {
            comm.GetSocketThread(0)->Push(Request(comm, COMM_MODE_ASYNC));
            ++sent;
            std::unique_lock guard(replies.lock);
            if (!replies.done.wait_for(guard, std::chrono::seconds(2), [&] { return replies.handled == sent; })) {
                state.SkipWithError("no reply");
                break;
            }
        }
    }
    g_pPedometer = nullptr;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuedRoundTrip)->Iterations(5000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
