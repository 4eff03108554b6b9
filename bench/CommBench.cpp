// Round trips of one small request against an echo server on 127.0.0.1: on the caller's
// thread, and queued through the socket worker. The baseline sends the same packet to the
// same server over a bare TCP connection: connect, send, read the reply, close, as each
// round trip of the communication object does. Each round trip takes turns with a bare one
// in every iteration and reports their `ratio`.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "BenchSupport.h"
#include "Communication.h"
#include "Socket.h"
#include "Text.h"
#include "pedometerWin.h"

namespace {

constexpr char kPayload[] = "5\x02";
// The communication object's bound on its connect, and on the reply again; the echo server
// waits as long for the request, so that on a loaded machine it is never the stricter one.
constexpr int kTimeoutMs = 2000;
// A queued request's reply is awaited past both of the worker's own bounds: an exchange
// that is slow but honest is never taken for a lost one.
constexpr auto kReplyWait = std::chrono::milliseconds(2 * kTimeoutMs + 1000);

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
    // The last packet a client sent, as it came.
    std::string LastPacket() {
        std::lock_guard guard(lastLock_);
        return last_;
    }

private:
    static bool ReadAll(net::SocketFd fd, char* p, int n) {
        for (int got = 0; got < n;) {
            if (net::WaitReadable(fd, kTimeoutMs) != 1) return false;
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
                if (len >= 7 && len + 4 <= kMaxPacketLen && ReadAll(fd, packet + 4, len)) {
                    Keep(packet, len + 4);
                    net::Send(fd, packet, static_cast<std::size_t>(len) + 4);
                }
            }
            net::Close(fd);
        }
    }

    void Keep(const char* packet, int length) {
        std::lock_guard guard(lastLock_);
        last_.assign(packet, static_cast<std::size_t>(length));
    }

    net::SocketFd listener_ = net::kInvalidSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lastLock_;
    std::string last_;
    std::thread thread_;
};

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

// Reads exactly n bytes, each read bounded as the communication object bounds its reply.
bool ReadReply(net::SocketFd fd, char* p, std::size_t n) {
    for (std::size_t got = 0; got < n;) {
        if (net::WaitReadable(fd, kTimeoutMs) != 1) return false;
        const int r = net::Recv(fd, p + got, n - got);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// Sends the packet and reads the echo of it (its length first) on a connected socket.
bool Exchange(net::SocketFd fd, const std::string& packet) {
    if (net::Send(fd, packet.data(), packet.size()) != static_cast<int>(packet.size())) return false;
    char reply[kMaxPacketLen];
    std::int32_t length = 0;
    if (!ReadReply(fd, reply, 4)) return false;
    std::memcpy(&length, reply, 4);
    if (length < 0 || length + 4 > kMaxPacketLen || !ReadReply(fd, reply + 4, static_cast<std::size_t>(length)))
        return false;
    return packet == std::string_view(reply, static_cast<std::size_t>(length) + 4);
}

// One exchange over a connection of its own; false unless the packet came back whole.
bool BareRoundTrip(const net::SockAddr& server, const std::string& packet) {
    const net::SocketFd fd = net::Open(net::kAfInet, net::kSockStream);
    if (fd == net::kInvalidSocket) return false;
    const bool ok = net::Connect(fd, server, kTimeoutMs) && Exchange(fd, packet);
    net::Close(fd);
    return ok;
}

// The communication object's packet for the request, sent again over bare connections.
class BareTcp {
public:
    explicit BareTcp(EchoServer& server) {
        {
            CCommunication comm;  // one request of the communication object, for its packet
            comm.SetSocketThreadCount(1);
            comm.SetServer(L"127.0.0.1", server.Port(), 1, kTimeoutMs);
            struCommContext* context = Request(comm, COMM_MODE_SYNC);
            if (comm.SendAndRecv(context) > 0) packet_ = server.LastPacket();
            comm.FreeContext(context);
        }
        ready_ = !packet_.empty() && net::Resolve("127.0.0.1", text::ToUtf8(server.Port()), net::kAfInet,
                                                  net::kSockStream, false, address_);
    }
    bool Ready() const { return ready_; }
    // One bare round trip's seconds; negative when it failed.
    double Timed() const {
        return bench::Seconds([this] { return BareRoundTrip(address_, packet_); });
    }

private:
    std::string packet_;
    net::SockAddr address_;
    bool ready_ = false;
};

void BM_SyncRoundTrip(benchmark::State& state) {
    EchoServer server;
    const BareTcp bare(server);
    if (!bare.Ready()) {
        state.SkipWithError("no packet to send");
        return;
    }
    CCommunication comm;
    comm.SetSocketThreadCount(1);
    comm.SetServer(L"127.0.0.1", server.Port(), 1, kTimeoutMs);
    bench::InTurns(
        state,
        [&comm] {
            struCommContext* context = Request(comm, COMM_MODE_SYNC);
            const double seconds = bench::Seconds([&] { return comm.SendAndRecv(context) > 0; });
            comm.FreeContext(context);
            return seconds;
        },
        [&bare] { return bare.Timed(); }, "exchange failed");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncRoundTrip)->UseManualTime()->Apply(bench::Steady);

void BM_QueuedRoundTrip(benchmark::State& state) {
    EchoServer server;
    const BareTcp bare(server);
    if (!bare.Ready()) {
        state.SkipWithError("no packet to send");
        return;
    }
    RankReplies replies;
    g_pPedometer = &replies;
    {
        CCommunication comm;  // its worker ends before the replies' taker goes
        comm.SetSocketThreadCount(1);
        comm.SetServer(L"127.0.0.1", server.Port(), 1, kTimeoutMs);
        int sent = 0;
        bench::InTurns(
            state,
            [&] {
                return bench::Seconds([&] {
                    comm.GetSocketThread(0)->Push(Request(comm, COMM_MODE_ASYNC));
                    ++sent;
                    std::unique_lock guard(replies.lock);
                    return replies.done.wait_for(guard, kReplyWait,
                                                 [&] { return replies.handled == sent; });
                });
            },
            [&bare] { return bare.Timed(); }, "no reply");
    }
    g_pPedometer = nullptr;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuedRoundTrip)->UseManualTime()->Apply(bench::Steady);

}  // namespace
