#include "LoopbackPacketServer.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kHead = 11;
constexpr int kReadTimeoutMs = 2000;
constexpr std::int32_t kLargestRequest = 8192;
constexpr auto kPoll = std::chrono::milliseconds(20);

bool ReadExactly(net::SocketFd fd, char* buffer, int want) {
    int got = 0;
    while (got < want) {
        if (net::WaitReadable(fd, kReadTimeoutMs) != 1) return false;
        const int n = net::Recv(fd, buffer + got, static_cast<std::size_t>(want - got));
        if (n <= 0) return false;
        got += n;
    }
    return true;
}

std::string Invert(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
    return bytes;
}

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // the host is little-endian, as the wire is
    out.append(bytes, sizeof(T));
}

template <typename T>
T Get(const std::string& in, std::size_t offset) {
    T value{};
    std::memcpy(&value, in.data() + offset, sizeof(T));
    return value;
}

// Parses one whole packet; false when it is shorter than a header.
bool ParseRequest(const std::string& raw, PacketRequest& request) {
    if (raw.size() < static_cast<std::size_t>(kHead)) return false;
    request.raw = raw;
    request.packLen = Get<std::int32_t>(raw, 0);
    request.commandId = Get<std::uint16_t>(raw, 4);
    request.seqNo = Get<std::uint32_t>(raw, 6);
    request.flag = raw[10];
    request.payload = raw.substr(kHead);
    if (request.flag == '1') request.payload = Invert(request.payload);
    request.fields = SplitPacketFields(request.payload);
    return true;
}
}  // namespace

std::vector<std::string> SplitPacketFields(const std::string& payload) {
    const std::string text = payload.substr(0, payload.find('\0'));
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\x02', start)) != std::string::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    if (start < text.size()) fields.push_back(text.substr(start));  // a last field without its end
    return fields;
}

PacketReply PacketReply::Fields(std::initializer_list<std::string> fields) {
    PacketReply reply;
    for (const std::string& field : fields) reply.payload += field + '\x02';
    reply.payload += '\0';
    return reply;
}

LoopbackPacketServer::LoopbackPacketServer(Transport transport, std::uint16_t port)
    : transport_(transport), port_(port) {
    OpenListener();
    thread_ = std::thread(&LoopbackPacketServer::Serve, this);
}

LoopbackPacketServer::~LoopbackPacketServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    net::Close(listener_);
}

bool LoopbackPacketServer::OpenListener() {
    const int type = transport_ == Transport::Tcp ? net::kSockStream : net::kSockDgram;
    net::SockAddr address;
    listener_ = net::Open(net::kAfInet, type);
    if (listener_ == net::kInvalidSocket) return false;
    net::SetReuseAddress(listener_, true);
    if (!net::Resolve("127.0.0.1", std::to_string(port_), net::kAfInet, type, true, address) ||
        !net::Bind(listener_, address) || (type == net::kSockStream && !net::Listen(listener_, 64))) {
        net::Close(listener_);
        listener_ = net::kInvalidSocket;
        return false;
    }
    if (port_ == 0) port_ = net::LocalPort(listener_);  // later opens reuse the same port
    return true;
}

void LoopbackPacketServer::OnCommand(std::uint16_t commandId, PacketScript script) {
    std::lock_guard lock(lock_);
    scripts_[commandId] = std::move(script);
}

void LoopbackPacketServer::OnAnyCommand(PacketScript script) {
    std::lock_guard lock(lock_);
    anyScript_ = std::move(script);
}

void LoopbackPacketServer::SetRefusing(bool refusing) {
    std::unique_lock lock(lock_);
    wantRefusing_ = refusing;
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return refusing_ == refusing; });
}

std::vector<PacketRequest> LoopbackPacketServer::Requests() const {
    std::lock_guard lock(lock_);
    return requests_;
}

std::size_t LoopbackPacketServer::RequestCount() const {
    std::lock_guard lock(lock_);
    return requests_.size();
}

bool LoopbackPacketServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::uint16_t LoopbackPacketServer::ClosedPort() {
    net::SockAddr address;
    const net::SocketFd fd = net::Open(net::kAfInet, net::kSockStream);
    std::uint16_t port = 0;
    if (net::Resolve("127.0.0.1", "0", net::kAfInet, net::kSockStream, true, address) && net::Bind(fd, address))
        port = net::LocalPort(fd);
    net::Close(fd);
    return port;
}

void LoopbackPacketServer::Record(PacketRequest request) {
    {
        std::lock_guard lock(lock_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

PacketReply LoopbackPacketServer::ReplyFor(const PacketRequest& request) {
    PacketScript script;
    {
        std::lock_guard lock(lock_);
        const auto it = scripts_.find(request.commandId);
        script = it != scripts_.end() ? it->second : anyScript_;
    }
    return script ? script(request) : PacketReply::Fields({"0", "ok"});
}

std::string LoopbackPacketServer::BuildReply(const PacketRequest& request, const PacketReply& reply) const {
    std::string out;
    Put<std::int32_t>(out, reply.packLen.value_or(static_cast<std::int32_t>(7 + reply.payload.size())));
    Put<std::uint16_t>(out, static_cast<std::uint16_t>(request.commandId + reply.commandIdDelta));
    Put<std::uint32_t>(out, request.seqNo + static_cast<std::uint32_t>(reply.seqDelta));
    out += reply.invert ? '1' : '0';
    out += reply.invert ? Invert(reply.payload) : reply.payload;
    return out;
}

bool LoopbackPacketServer::Pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        if (stop_) return false;
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
            kPoll, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())));
    }
    return !stop_;
}

void LoopbackPacketServer::Serve() {
    while (!stop_) {
        {
            std::lock_guard lock(lock_);
            if (wantRefusing_ != refusing_) {
                if (wantRefusing_) {
                    net::Close(listener_);
                    listener_ = net::kInvalidSocket;
                } else {
                    OpenListener();
                }
                refusing_ = wantRefusing_;
                changed_.notify_all();
            }
        }
        if (listener_ == net::kInvalidSocket) {
            Pause(kPoll);
            continue;
        }
        if (transport_ == Transport::Udp) {
            ServeDatagram();
            continue;
        }
        const net::SocketFd fd = net::Accept(listener_, static_cast<int>(kPoll.count()), nullptr);
        if (fd == net::kInvalidSocket) continue;
        ++connections_;
        ServeConnection(fd);
        net::Close(fd);
    }
}

void LoopbackPacketServer::ServeConnection(net::SocketFd fd) {
    net::SetNoDelay(fd, true);  // so that pieces arrive as pieces
    std::string raw(4, '\0');
    if (!ReadExactly(fd, raw.data(), 4)) return;
    const auto packLen = Get<std::int32_t>(raw, 0);
    if (packLen < 7 || packLen > kLargestRequest) return;
    raw.resize(4 + static_cast<std::size_t>(packLen));
    if (!ReadExactly(fd, raw.data() + 4, packLen)) return;
    PacketRequest request;
    ParseRequest(raw, request);
    Record(request);

    const PacketReply reply = ReplyFor(request);
    if (!Pause(reply.delay) || reply.noReply) return;
    const std::string bytes = BuildReply(request, reply);
    const std::size_t pieces = static_cast<std::size_t>(std::max(1, reply.pieces));
    const std::size_t step = std::max<std::size_t>(1, bytes.size() / pieces);
    for (std::size_t offset = 0, piece = 0; offset < bytes.size(); ++piece) {
        const std::size_t size = piece + 1 == pieces ? bytes.size() - offset : std::min(step, bytes.size() - offset);
        if (net::Send(fd, bytes.data() + offset, size) != static_cast<int>(size)) return;
        offset += size;
        if (offset < bytes.size() && !Pause(reply.pieceGap)) return;
    }
}

void LoopbackPacketServer::ServeDatagram() {
    if (net::WaitReadable(listener_, static_cast<int>(kPoll.count())) != 1) return;
    std::string raw(kLargestRequest, '\0');
    net::SockAddr from;
    const int n = net::RecvFrom(listener_, raw.data(), raw.size(), &from);
    if (n <= 0) return;
    raw.resize(static_cast<std::size_t>(n));
    PacketRequest request;
    if (!ParseRequest(raw, request)) return;
    Record(request);
    const PacketReply reply = ReplyFor(request);
    if (!Pause(reply.delay) || reply.noReply) return;
    const std::string bytes = BuildReply(request, reply);
    net::SendTo(listener_, bytes.data(), bytes.size(), from);
}
