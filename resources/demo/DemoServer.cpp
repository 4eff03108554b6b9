// A packet server on 127.0.0.1 with one demo account, so that the program can be run and
// log in on one machine: it answers the login, the keep-alive, the profile request and the
// logout, and ends on Ctrl-C or SIGTERM.
//
//   quorv_demo_server [port]    port 18090 by default; 0: an ephemeral one
//
// Its first line on stdout names the port it listens on; a line per request follows.
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "LoopbackPacketServer.h"
#include "Signals.h"

namespace {

constexpr std::uint16_t kDefaultPort = 18090;  // the LoginPort that scripts/run.sh writes
constexpr std::uint16_t kKeepAlive = 0x1010;
constexpr std::uint16_t kLogin = 0x1020;
constexpr std::uint16_t kLogout = 0x1021;
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

void Say(const std::string& line) {
    std::printf("demo server: %s\n", line.c_str());
    std::fflush(stdout);  // read while the server runs
}

// The port argument, or nothing when it is not a number in 0..65535.
std::optional<std::uint16_t> PortArgument(int argc, char** argv) {
    if (argc < 2) return kDefaultPort;
    std::uint16_t port = 0;
    const char* end = argv[1] + std::strlen(argv[1]);
    const auto [at, error] = std::from_chars(argv[1], end, port);
    if (argc > 2 || error != std::errc() || at != end || at == argv[1]) return std::nullopt;
    return port;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<std::uint16_t> port = PortArgument(argc, argv);
    if (!port) {
        std::fprintf(stderr, "usage: quorv_demo_server [port]   (default %u; 0: any free port)\n",
                     static_cast<unsigned>(kDefaultPort));
        return 2;
    }

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

    if (*port != 0 && !PortFree(*port)) {
        std::fprintf(stderr, "demo server: 127.0.0.1:%u is in use\n", static_cast<unsigned>(*port));
        return 1;
    }
    LoopbackPacketServer server(LoopbackPacketServer::Transport::Tcp, *port);
    server.OnCommand(kLogin, [](const PacketRequest& r) {
        Say("login [" + FieldOf(r, 0) + "]");
        if (FieldOf(r, 0) != kAccount || FieldOf(r, 1) != kPassword)
            return PacketReply::Fields({"-1", "wrong account or password"});
        // code, message, area, area code (0: keep the local one), address, reserved, then the user.
        return WithUser({"0", "login ok", "1", "0", "demo address", ""});
    });
    server.OnCommand(kKeepAlive, [](const PacketRequest&) {
        Say("keep-alive");
        // code, user sync number, then -1 for forecast, live weather and life index (nothing new),
        // zeros up to the parameter count in field 21, which is 0.
        return PacketReply::Fields({"0", kSyncNo, "0", "-1", "-1", "-1", "0", "0", "0", "0", "0", "0", "0", "0",
                                    "0", "0", "0", "0", "0", "0", "0"});
    });
    server.OnCommand(kUserInfo, [](const PacketRequest&) {
        Say("profile");
        return WithUser({});
    });
    server.OnCommand(kLogout, [](const PacketRequest& r) {
        Say("logout [" + FieldOf(r, 0) + "]");
        return PacketReply::Fields({"0", "logout ok"});
    });
    Say("listening on 127.0.0.1:" + std::to_string(server.Port()) + ", account " + kAccount + " / " + kPassword);

    std::unique_lock guard(lock);
    ended.wait(guard, [&] { return stop; });
    Say("stopped");
    return 0;
}
