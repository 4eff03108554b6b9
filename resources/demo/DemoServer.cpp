// A packet server on 127.0.0.1:18090 with one demo account, so that the program can be
// run and log in on one machine: it answers the login, the keep-alive and the profile
// request, and ends on Ctrl-C or SIGTERM.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "LoopbackPacketServer.h"
#include "Signals.h"

namespace {

constexpr std::uint16_t kPort = 18090;  // the LoginPort that scripts/run.sh writes
constexpr std::uint16_t kKeepAlive = 0x1010;
constexpr std::uint16_t kLogin = 0x1020;
constexpr std::uint16_t kUserInfo = 0x1070;

const std::string kAccount = "demo";
const std::string kPassword = "demo123";
const std::string kSyncNo = "1";  // the keep-alive repeats it, so the profile is asked for only when it differs

// The 26 fields of the user record, in column order.
PacketReply WithUser(std::initializer_list<std::string> head) {
    PacketReply reply = PacketReply::Fields(head);
    reply.payload.pop_back();  // the NUL: the record follows
    for (const std::string& field :
         {std::string("1001"), std::string("demo01"), std::string("Demo"), std::string(""), std::string("20240101"),
          std::string(""), std::string("1"), std::string(""), std::string(""), std::string(""),
          std::string("127.0.0.1"), std::string("1"), std::string("0"), std::string("0"), std::string("0"),
          std::string("0"), std::string("0"), std::string("0"), std::string("0"), std::string("0"), std::string("0"),
          std::string("0"), std::string("0"), kSyncNo, std::string("1"), std::string("demo account")})
        reply.payload += field + '\x02';
    reply.payload += '\0';
    return reply;
}

// The loopback server keeps trying a port it could not bind; a taken port is better said at once.
bool PortFree(std::uint16_t port) {
    net::SockAddr address;
    const net::SocketFd fd = net::Open(net::kAfInet, net::kSockStream);
    net::SetReuseAddress(fd, true);  // as the server binds, so a closing earlier run does not count
    const bool free = fd != net::kInvalidSocket &&
                      net::Resolve("127.0.0.1", std::to_string(port), net::kAfInet, net::kSockStream, true, address) &&
                      net::Bind(fd, address) && net::Listen(fd, 1);
    net::Close(fd);
    return free;
}

std::string FieldOf(const PacketRequest& request, std::size_t index) {
    return index < request.fields.size() ? request.fields[index] : std::string();
}

}  // namespace

int main() {
    std::mutex lock;
    std::condition_variable ended;
    bool stop = false;
    // Before the server's thread starts, so that only the watcher sees the signals.
    StartTerminationWatcher([&] {
        {
            std::lock_guard guard(lock);
            stop = true;
        }
        ended.notify_all();
    });

    if (!PortFree(kPort)) {
        std::fprintf(stderr, "demo server: 127.0.0.1:%u is in use\n", static_cast<unsigned>(kPort));
        return 1;
    }
    LoopbackPacketServer server(LoopbackPacketServer::Transport::Tcp, kPort);
    server.OnCommand(kLogin, [](const PacketRequest& r) {
        std::printf("demo server: login [%s]\n", FieldOf(r, 0).c_str());
        std::fflush(stdout);
        if (FieldOf(r, 0) != kAccount || FieldOf(r, 1) != kPassword)
            return PacketReply::Fields({"-1", "wrong account or password"});
        // code, message, area, area code (0: keep the local one), address, reserved, then the user.
        return WithUser({"0", "login ok", "1", "0", "demo address", ""});
    });
    server.OnCommand(kKeepAlive, [](const PacketRequest&) {
        std::printf("demo server: keep-alive\n");
        std::fflush(stdout);
        // code, user sync number, then -1 for forecast, live weather and life index (nothing new),
        // zeros up to the parameter count in field 21, which is 0.
        return PacketReply::Fields({"0", kSyncNo, "0", "-1", "-1", "-1", "0", "0", "0", "0", "0", "0", "0", "0",
                                    "0", "0", "0", "0", "0", "0", "0"});
    });
    server.OnCommand(kUserInfo, [](const PacketRequest&) {
        std::printf("demo server: profile\n");
        std::fflush(stdout);
        return WithUser({});
    });
    std::printf("demo server: listening on 127.0.0.1:%u, account %s / %s\n", static_cast<unsigned>(server.Port()),
                kAccount.c_str(), kPassword.c_str());
    std::fflush(stdout);

    std::unique_lock guard(lock);
    ended.wait(guard, [&] { return stop; });
    std::printf("demo server: stopped\n");
    return 0;
}
