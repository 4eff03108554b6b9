// An HTTP/1.1 server on 127.0.0.1 for tests of the HTTP client and the article
// synchronisation, and for the demo server.
//
//   LoopbackHttpServer server;                          // an ephemeral port
//   server.Enqueue(HttpReply::Status(500));             // the first request's reply
//   server.OnRequest([](const HttpRequest& r) { return HttpReply::Xml("<r bussID=\"x\"/>"); });
//   ... requests to server.Url("/DataSync/BussDataSync.aspx") ...
//   server.WaitForRequests(2);
//   server.Requests()[1].body
//
// Each connection carries one request and one reply ("Connection: close"). Requests are
// recorded in arrival order. A reply comes from the queue while it holds one, else from
// the script, else it is an empty 200. Faults are members of HttpReply: any status, a
// delay before answering, a body cut short of its Content-Length, a stall after it, a
// body of unannounced length, a body trickled a byte at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Socket.h"
#include "WaitFor.h"

struct HttpRequest {
    std::string method;
    std::string target;  // path and query, as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name (any case), "" when none.
    std::string Header(const std::string& name) const;
};

struct HttpReply {
    int status = 200;
    std::string contentType = "text/xml; charset=utf-8";
    std::string body;
    std::chrono::milliseconds delay{0};       // before anything is sent
    std::optional<std::size_t> bodyBytes;     // body bytes sent; Content-Length still says all
    std::chrono::milliseconds holdAfter{0};   // the connection stays open this long after the body
    std::chrono::milliseconds byteGap{0};     // the body goes out a byte at a time, this far apart
    bool withLength = true;                   // false: no Content-Length, the body ends with the connection

    static HttpReply Xml(std::string body);
    static HttpReply Status(int status);
};

using HttpScript = std::function<HttpReply(const HttpRequest&)>;

class LoopbackHttpServer {
public:
    // port 0: an ephemeral port; another: that fixed port.
    explicit LoopbackHttpServer(std::uint16_t port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // 0 when the port could not be taken.
    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path = "/") const;

    void Enqueue(HttpReply reply);
    void OnRequest(HttpScript script);

    std::vector<HttpRequest> Requests() const;
    std::size_t RequestCount() const;
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout = kGenerousWait) const;

private:
    void Serve();
    void ServeConnection(net::SocketFd fd);
    HttpReply ReplyFor(const HttpRequest& request);
    bool SendBody(net::SocketFd fd, const HttpReply& reply, std::size_t bytes) const;
    // Sleeps in short steps; false when the server stops meanwhile.
    bool Pause(std::chrono::milliseconds duration) const;

    std::uint16_t port_ = 0;
    net::SocketFd listener_ = net::kInvalidSocket;
    std::atomic<bool> stop_{false};

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::deque<HttpReply> queue_;
    HttpScript script_;
    std::vector<HttpRequest> requests_;

    std::thread thread_;
};

// The fields of an application/x-www-form-urlencoded body, percent-decoded ('+' is a
// blank); a key given twice keeps its last value.
std::map<std::string, std::string> DecodeForm(const std::string& body);
