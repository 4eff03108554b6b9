#include "LoopbackHttpServer.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

constexpr int kReadTimeoutMs = 2000;
constexpr std::size_t kLargestHead = 64 * 1024;
constexpr std::size_t kLargestBody = 64 * 1024 * 1024;
constexpr auto kPoll = std::chrono::milliseconds(20);

bool SameText(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t");
    const auto end = s.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : s.substr(begin, end - begin + 1);
}

bool SendAll(net::SocketFd fd, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = net::Send(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `have` holds at least `want` bytes; false on time-out or a closed peer.
bool ReadUntilSize(net::SocketFd fd, std::string& have, std::size_t want) {
    char buffer[16 * 1024];
    while (have.size() < want) {
        if (net::WaitReadable(fd, kReadTimeoutMs) != 1) return false;
        const int n = net::Recv(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        have.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// The request line and headers up to the blank line; what came after stays in `rest`.
bool ReadHead(net::SocketFd fd, HttpRequest& request, std::string& rest) {
    std::string data;
    std::size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kLargestHead || !ReadUntilSize(fd, data, data.size() + 1)) return false;
    }
    rest = data.substr(end + 4);
    std::size_t at = data.find("\r\n");
    const std::string line = data.substr(0, at);
    const auto sp1 = line.find(' ');
    const auto sp2 = line.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
    request.method = line.substr(0, sp1);
    request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    while (at < end) {
        const std::size_t next = data.find("\r\n", at + 2);
        const std::string header = data.substr(at + 2, next - at - 2);
        const auto colon = header.find(':');
        if (colon != std::string::npos)
            request.headers.emplace_back(Trim(header.substr(0, colon)), Trim(header.substr(colon + 1)));
        at = next;
    }
    return true;
}

std::string ReasonOf(int status) {
    switch (status) {
        case 200: return "OK";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (SameText(key, name)) return value;
    return {};
}

HttpReply HttpReply::Xml(std::string body) {
    HttpReply reply;
    reply.body = std::move(body);
    return reply;
}

HttpReply HttpReply::Status(int status) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = "text/plain";
    reply.body = ReasonOf(status);
    return reply;
}

std::map<std::string, std::string> DecodeForm(const std::string& body) {
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(start, end - start);
        const auto eq = pair.find('=');
        const std::string value = eq == std::string::npos ? "" : PercentDecode(pair.substr(eq + 1));
        if (!pair.empty()) fields[PercentDecode(pair.substr(0, eq))] = value;
        start = end + 1;
    }
    return fields;
}

LoopbackHttpServer::LoopbackHttpServer(std::uint16_t port) {
    net::SockAddr address;
    listener_ = net::Open(net::kAfInet, net::kSockStream);
    net::SetReuseAddress(listener_, true);
    if (listener_ != net::kInvalidSocket &&
        net::Resolve("127.0.0.1", std::to_string(port), net::kAfInet, net::kSockStream, true, address) &&
        net::Bind(listener_, address) && net::Listen(listener_, 64)) {
        port_ = net::LocalPort(listener_);
    } else {
        net::Close(listener_);
        listener_ = net::kInvalidSocket;
    }
    thread_ = std::thread(&LoopbackHttpServer::Serve, this);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    net::Close(listener_);
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttpServer::Enqueue(HttpReply reply) {
    std::lock_guard lock(lock_);
    queue_.push_back(std::move(reply));
}

void LoopbackHttpServer::OnRequest(HttpScript script) {
    std::lock_guard lock(lock_);
    script_ = std::move(script);
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard lock(lock_);
    return requests_;
}

std::size_t LoopbackHttpServer::RequestCount() const {
    std::lock_guard lock(lock_);
    return requests_.size();
}

bool LoopbackHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

HttpReply LoopbackHttpServer::ReplyFor(const HttpRequest& request) {
    HttpScript script;
    {
        std::lock_guard lock(lock_);
        requests_.push_back(request);
        changed_.notify_all();
        if (!queue_.empty()) {
            HttpReply reply = std::move(queue_.front());
            queue_.pop_front();
            return reply;
        }
        script = script_;
    }
    return script ? script(request) : HttpReply::Xml("");
}

bool LoopbackHttpServer::Pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        if (stop_) return false;
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
            kPoll, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())));
    }
    return !stop_;
}

void LoopbackHttpServer::Serve() {
    while (!stop_ && listener_ != net::kInvalidSocket) {
        const net::SocketFd fd = net::Accept(listener_, static_cast<int>(kPoll.count()), nullptr);
        if (fd == net::kInvalidSocket) continue;
        ServeConnection(fd);
        net::Close(fd);
    }
}

void LoopbackHttpServer::ServeConnection(net::SocketFd fd) {
    HttpRequest request;
    std::string body;
    if (!ReadHead(fd, request, body)) return;
    std::size_t length = 0;
    const std::string lengthText = request.Header("Content-Length");
    std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
    if (length > kLargestBody) return;
    if (SameText(request.Header("Expect"), "100-continue") && body.size() < length &&
        !SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n", 25))
        return;
    if (!ReadUntilSize(fd, body, length)) return;
    body.resize(length);
    request.body = std::move(body);

    const HttpReply reply = ReplyFor(request);
    if (!Pause(reply.delay)) return;
    const std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonOf(reply.status) +
                             "\r\nContent-Type: " + reply.contentType +
                             (reply.withLength ? "\r\nContent-Length: " + std::to_string(reply.body.size()) : "") +
                             "\r\nConnection: close\r\n\r\n";
    const std::size_t sent = std::min(reply.bodyBytes.value_or(reply.body.size()), reply.body.size());
    if (!SendAll(fd, head.data(), head.size()) || !SendBody(fd, reply, sent)) return;
    Pause(reply.holdAfter);
}

bool LoopbackHttpServer::SendBody(net::SocketFd fd, const HttpReply& reply, std::size_t bytes) const {
    if (reply.byteGap.count() == 0) return SendAll(fd, reply.body.data(), bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        if (!Pause(reply.byteGap) || !SendAll(fd, reply.body.data() + i, 1)) return false;
    return true;
}
