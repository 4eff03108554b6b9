// A packet server on 127.0.0.1 with one demo account, so that the program can be run and
// show what it does on one machine: it answers every request the client sends from its data
// file (demo.xml beside this source unless --data names another), refuses what the file
// does not know with the protocol's negative result, and hands out the file's articles
// through the HTTP article synchronisation; it ends on Ctrl-C or SIGTERM.
//
//   quorv_demo_server [--data file] [port [httpPort]]
//       port 18090 by default, httpPort 18092 (the shipped HttpServiceAddr); 0: an
//       ephemeral one. With port 0 and no httpPort, the HTTP port is ephemeral too.
//
// Its first line on stdout names the packet port, its second the HTTP service; a line
// per request follows ("<command> [<first field>]", " refused" after a refusal), and at the
// end the count of requests answered and refused. A data file that does not load ends it
// at once with one line naming the file and the place.
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "DemoArticleSync.h"
#include "DemoData.h"
#include "DemoReplies.h"
#include "LoopbackHttpServer.h"
#include "LoopbackPacketServer.h"
#include "TerminationWait.h"

namespace {

constexpr std::uint16_t kDefaultPort = 18090;      // the LoginPort that scripts/run.sh writes
constexpr std::uint16_t kDefaultHttpPort = 18092;  // the shipped HttpServiceAddr

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

void Say(const std::string& line) {
    std::printf("demo server: %s\n", line.c_str());
    std::fflush(stdout);  // read while the server runs
}

// A port argument, or nothing when it is not a number in 0..65535.
std::optional<std::uint16_t> PortOf(const char* text) {
    std::uint16_t port = 0;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, port);
    if (error != std::errc() || at != end || at == text) return std::nullopt;
    return port;
}

struct Arguments {
    std::string dataFile = QUORV_DEMO_DATA;
    std::uint16_t packet = kDefaultPort;
    std::uint16_t http = kDefaultHttpPort;
};

std::optional<Arguments> ParseArguments(int argc, char** argv) {
    Arguments args;
    std::vector<const char*> ports;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data") == 0) {
            if (++i == argc) return std::nullopt;
            args.dataFile = argv[i];
        } else {
            ports.push_back(argv[i]);
        }
    }
    if (ports.size() > 2) return std::nullopt;
    if (!ports.empty()) {
        const std::optional<std::uint16_t> packet = PortOf(ports[0]);
        if (!packet) return std::nullopt;
        args.packet = *packet;
        if (*packet == 0) args.http = 0;
    }
    if (ports.size() > 1) {
        const std::optional<std::uint16_t> http = PortOf(ports[1]);
        if (!http) return std::nullopt;
        args.http = *http;
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Arguments> args = ParseArguments(argc, argv);
    if (!args) {
        std::fprintf(stderr,
                     "usage: quorv_demo_server [--data file] [port [httpPort]]   (default %u and %u; 0: any free port)\n",
                     static_cast<unsigned>(kDefaultPort), static_cast<unsigned>(kDefaultHttpPort));
        return 2;
    }
    DemoData data;
    std::string error;
    if (!data.Load(args->dataFile, error)) {
        std::fprintf(stderr, "demo server: data file %s\n", error.c_str());
        return 1;
    }

    // Before the server's thread starts, so that only the watcher sees the signals.
    TerminationWait termination;

    for (const std::uint16_t wanted : {args->packet, args->http}) {
        if (wanted != 0 && !PortFree(wanted)) {
            std::fprintf(stderr, "demo server: 127.0.0.1:%u is in use\n", static_cast<unsigned>(wanted));
            return 1;
        }
    }
    const DemoReplies replies(data);
    std::atomic<int> answered{0};
    std::atomic<int> refused{0};
    LoopbackPacketServer server(LoopbackPacketServer::Transport::Tcp, args->packet);
    server.OnAnyCommand([&](const PacketRequest& request) {
        DemoAnswer answer = replies.Answer(request);
        ++(answer.refused ? refused : answered);
        Say(answer.logLine);
        return std::move(answer.reply);
    });
    const DemoArticleSync articles(data);
    LoopbackHttpServer http(args->http);
    http.OnRequest([&articles](const HttpRequest& request) { return articles.Answer(request); });
    Say("listening on 127.0.0.1:" + std::to_string(server.Port()) + ", account " + data.Account() + " / " +
        data.Password() + ", data " + args->dataFile);
    Say("article synchronisation on " + http.Url("/"));

    termination.Wait();
    Say(std::to_string(answered.load() + refused.load()) + " requests: " + std::to_string(answered.load()) +
        " answered, " + std::to_string(refused.load()) + " refused");
    Say("stopped");
    return 0;
}
