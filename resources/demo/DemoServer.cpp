// A packet server on 127.0.0.1 with one demo account, so that the program can be run and
// log in on one machine: it answers the login, the keep-alive, the profile request and the
// logout, announces a few articles of each kind and hands them out through the HTTP
// article synchronisation; it ends on Ctrl-C or SIGTERM.
//
//   quorv_demo_server [port [httpPort]]
//       port 18090 by default, httpPort 18092 (the shipped HttpServiceAddr); 0: an
//       ephemeral one. With port 0 and no httpPort, the HTTP port is ephemeral too.
//
// Its first line on stdout names the packet port, its second the HTTP service; a line
// per request follows.
#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "LoopbackHttpServer.h"
#include "LoopbackPacketServer.h"
#include "Signals.h"

namespace {

constexpr std::uint16_t kDefaultPort = 18090;      // the LoginPort that scripts/run.sh writes
constexpr std::uint16_t kDefaultHttpPort = 18092;  // the shipped HttpServiceAddr
constexpr std::uint16_t kKeepAlive = 0x1010;
constexpr std::uint16_t kLogin = 0x1020;
constexpr std::uint16_t kLogout = 0x1021;
constexpr std::uint16_t kUserInfo = 0x1070;

const std::string kAccount = "demo";
const std::string kPassword = "demo123";
const std::string kSyncNo = "1";  // the keep-alive repeats it, so the profile is asked for only when it differs

// The articles the server holds: numbers 1 to the count of each kind.
struct ArticleKind {
    const char* bussID;
    const char* table;
    const char* keyColumn;
    int count;
    const char* title;  // followed by the number
};
const ArticleKind kArticleKinds[] = {
    {"syndata_focusArticle", "tFocusArticle", "focusArticleNo", 3, "今日资讯"},
    {"syndata_article", "tArticle", "articleNo", 4, "健康订阅"},
};

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

// A port argument, or nothing when it is not a number in 0..65535.
std::optional<std::uint16_t> PortOf(const char* text) {
    std::uint16_t port = 0;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, port);
    if (error != std::errc() || at != end || at == text) return std::nullopt;
    return port;
}

struct Ports {
    std::uint16_t packet = kDefaultPort;
    std::uint16_t http = kDefaultHttpPort;
};

std::optional<Ports> PortArguments(int argc, char** argv) {
    Ports ports;
    if (argc > 3) return std::nullopt;
    if (argc > 1) {
        const std::optional<std::uint16_t> packet = PortOf(argv[1]);
        if (!packet) return std::nullopt;
        ports.packet = *packet;
        if (*packet == 0) ports.http = 0;
    }
    if (argc > 2) {
        const std::optional<std::uint16_t> http = PortOf(argv[2]);
        if (!http) return std::nullopt;
        ports.http = *http;
    }
    return ports;
}

std::string XmlAttribute(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

int NumberOf(const std::map<std::string, std::string>& form, const char* key) {
    const auto it = form.find(key);
    int n = -1;
    if (it != form.end()) std::from_chars(it->second.data(), it->second.data() + it->second.size(), n);
    return n;
}

// The synchronisation reply: one insert row per article after the client's highest.
HttpReply ArticleSync(const HttpRequest& request) {
    const std::map<std::string, std::string> form = DecodeForm(request.body);
    const auto field = [&form](const char* key) {
        const auto it = form.find(key);
        return it != form.end() ? it->second : std::string();
    };
    const std::string bussID = field("bussID");
    const int minNo = NumberOf(form, "minNo");
    Say("article sync [" + bussID + "] after " + std::to_string(minNo));
    const ArticleKind* kind = nullptr;
    for (const ArticleKind& k : kArticleKinds)
        if (bussID == k.bussID) kind = &k;
    const bool known = field("loginAccount") == kAccount && field("loginPassword") == kPassword;
    std::string rows;
    int count = 0;
    for (int n = std::max(minNo, 0) + 1; kind != nullptr && known && n <= kind->count; ++n, ++count) {
        const std::string sql = std::string("insert into ") + kind->table + " (" + kind->keyColumn +
                                ", articleType, title, simpleTitle, sourceNote, pubTime, status) values (" +
                                std::to_string(n) + ", 1, '" + kind->title + " " + std::to_string(n) + "', '" +
                                kind->title + "', 'demo server', datetime('now','localtime'), '1')";
        rows += "<row sql=\"" + XmlAttribute(sql) + "\"/>";
    }
    const std::string retCode = kind != nullptr && known ? "0" : "-1";
    return HttpReply::Xml("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<DataSync bussID=\"" + XmlAttribute(bussID) +
                          "\" retCode=\"" + retCode + "\" dataRowCount=\"" + std::to_string(count) + "\" DB=\"user\">" +
                          rows + "</DataSync>");
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Ports> ports = PortArguments(argc, argv);
    if (!ports) {
        std::fprintf(stderr, "usage: quorv_demo_server [port [httpPort]]   (default %u and %u; 0: any free port)\n",
                     static_cast<unsigned>(kDefaultPort), static_cast<unsigned>(kDefaultHttpPort));
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

    for (const std::uint16_t wanted : {ports->packet, ports->http}) {
        if (wanted != 0 && !PortFree(wanted)) {
            std::fprintf(stderr, "demo server: 127.0.0.1:%u is in use\n", static_cast<unsigned>(wanted));
            return 1;
        }
    }
    LoopbackPacketServer server(LoopbackPacketServer::Transport::Tcp, ports->packet);
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
        // zeros but for the highest focus-article and article numbers (fields 12 and 13), up to
        // the parameter count in field 21, which is 0; no deleted articles.
        return PacketReply::Fields({"0", kSyncNo, "0", "-1", "-1", "-1", "0", "0", "0", "0", "0",
                                    std::to_string(kArticleKinds[0].count), std::to_string(kArticleKinds[1].count),
                                    "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
    });
    server.OnCommand(kUserInfo, [](const PacketRequest&) {
        Say("profile");
        return WithUser({});
    });
    server.OnCommand(kLogout, [](const PacketRequest& r) {
        Say("logout [" + FieldOf(r, 0) + "]");
        return PacketReply::Fields({"0", "logout ok"});
    });
    LoopbackHttpServer http(ports->http);
    http.OnRequest(ArticleSync);
    Say("listening on 127.0.0.1:" + std::to_string(server.Port()) + ", account " + kAccount + " / " + kPassword);
    Say("article synchronisation on " + http.Url("/"));

    std::unique_lock guard(lock);
    ended.wait(guard, [&] { return stop; });
    Say("stopped");
    return 0;
}
