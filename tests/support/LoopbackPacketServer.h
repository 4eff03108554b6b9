// A packet server on 127.0.0.1 for tests of the server communication.
//
//   LoopbackPacketServer server;                       // TCP, an ephemeral port
//   server.OnCommand(0x1180, [](const PacketRequest& r) {
//       return PacketReply::Fields({"0", "ok", r.fields[0]});
//   });
//   comm.SetServer(L"127.0.0.1", server.PortText(), 1, 500);
//   ... run requests ...
//   server.WaitForRequests(1);
//   server.Requests()[0].fields                        // {"5"}
//
// Each connection carries one request and one reply, as the client expects. Requests
// are recorded in arrival order, de-inverted and split into fields. A command without
// a script is answered with the fields {"0", "ok"}. Fault modes are members of
// PacketReply (wrong id or sequence, plain flag, a length field of your choice, a
// reply in pieces, a delay, no reply at all); SetRefusing closes the port.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Socket.h"
#include "WaitFor.h"

struct PacketRequest {
    std::int32_t packLen = 0;     // the length field: 7 + payload
    std::uint16_t commandId = 0;
    std::uint32_t seqNo = 0;
    char flag = 0;                // '1' when the payload came inverted
    std::string payload;          // de-inverted, the NUL included
    std::vector<std::string> fields;  // the text before the NUL, one entry per 0x02-ended field
    std::string raw;              // the bytes as they came
};

struct PacketReply {
    std::string payload;                 // the reply's payload before inversion
    bool invert = true;                  // false: flag '0', payload as it is
    int commandIdDelta = 0;              // added to the request's id
    int seqDelta = 0;                    // added to the request's sequence number
    std::optional<std::int32_t> packLen; // the length field; default 7 + payload size
    int pieces = 1;                      // written in this many pieces, pieceGap apart
    std::chrono::milliseconds pieceGap{20};
    std::chrono::milliseconds delay{0};  // before answering
    bool noReply = false;                // close without a reply

    // Each field followed by 0x02, then a NUL.
    static PacketReply Fields(std::initializer_list<std::string> fields);
};

using PacketScript = std::function<PacketReply(const PacketRequest&)>;

class LoopbackPacketServer {
public:
    enum class Transport { Tcp, Udp };

    // port 0: an ephemeral port; another: that fixed port, for a demo that clients find by settings.
    explicit LoopbackPacketServer(Transport transport = Transport::Tcp, std::uint16_t port = 0);
    ~LoopbackPacketServer();
    LoopbackPacketServer(const LoopbackPacketServer&) = delete;
    LoopbackPacketServer& operator=(const LoopbackPacketServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::wstring PortText() const { return std::to_wstring(port_); }

    // The script for one command id, or for every id without one.
    void OnCommand(std::uint16_t commandId, PacketScript script);
    void OnAnyCommand(PacketScript script);

    // true: the port is closed, so connects are refused; false: it listens again.
    void SetRefusing(bool refusing);

    std::vector<PacketRequest> Requests() const;
    std::size_t RequestCount() const;
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout = kGenerousWait) const;
    // TCP connections accepted so far.
    int Connections() const { return connections_.load(); }

    // A loopback port with nothing listening on it.
    static std::uint16_t ClosedPort();

private:
    void Serve();
    void ServeConnection(net::SocketFd fd);
    void ServeDatagram();
    bool OpenListener();
    PacketReply ReplyFor(const PacketRequest& request);
    void Record(PacketRequest request);
    std::string BuildReply(const PacketRequest& request, const PacketReply& reply) const;
    // Sleeps in short steps; false when the server stops meanwhile.
    bool Pause(std::chrono::milliseconds duration) const;

    const Transport transport_;
    std::uint16_t port_ = 0;
    net::SocketFd listener_ = net::kInvalidSocket;  // owned by the serving thread once started
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::map<std::uint16_t, PacketScript> scripts_;
    PacketScript anyScript_;
    std::vector<PacketRequest> requests_;
    bool wantRefusing_ = false;
    bool refusing_ = false;

    std::thread thread_;
};

// Splits a payload at its NUL and its 0x02 field ends.
std::vector<std::string> SplitPacketFields(const std::string& payload);
