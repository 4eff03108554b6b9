// A small layer over the system's sockets: TCP and UDP, name resolution, connects and
// waits bounded by time-outs. Failures leave a Windows Sockets error number as the
// thread's last error (GetLastError), since the program's log lines and checks use them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "WinTypes.h"

namespace net {

using SocketFd = int;
constexpr SocketFd kInvalidSocket = -1;

// Address family and socket types with their Windows numbers.
constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;

// Windows Sockets error numbers the layer reports.
constexpr DWORD WSAEINTR = 10004;
constexpr DWORD WSAEBADF = 10009;
constexpr DWORD WSAEACCES = 10013;
constexpr DWORD WSAEFAULT = 10014;
constexpr DWORD WSAEINVAL = 10022;
constexpr DWORD WSAEMFILE = 10024;
constexpr DWORD WSAEWOULDBLOCK = 10035;
constexpr DWORD WSAEINPROGRESS = 10036;
constexpr DWORD WSAEALREADY = 10037;
constexpr DWORD WSAENOTSOCK = 10038;
constexpr DWORD WSAEMSGSIZE = 10040;
constexpr DWORD WSAEAFNOSUPPORT = 10047;
constexpr DWORD WSAEADDRINUSE = 10048;
constexpr DWORD WSAEADDRNOTAVAIL = 10049;
constexpr DWORD WSAENETDOWN = 10050;
constexpr DWORD WSAENETUNREACH = 10051;
constexpr DWORD WSAENETRESET = 10052;
constexpr DWORD WSAECONNABORTED = 10053;
constexpr DWORD WSAECONNRESET = 10054;
constexpr DWORD WSAENOBUFS = 10055;
constexpr DWORD WSAEISCONN = 10056;
constexpr DWORD WSAENOTCONN = 10057;
constexpr DWORD WSAESHUTDOWN = 10058;
constexpr DWORD WSAETIMEDOUT = 10060;
constexpr DWORD WSAECONNREFUSED = 10061;
constexpr DWORD WSAEHOSTDOWN = 10064;
constexpr DWORD WSAEHOSTUNREACH = 10065;
constexpr DWORD WSASYSCALLFAILURE = 10107;
constexpr DWORD WSAHOST_NOT_FOUND = 11001;

// A socket address of any family, as large as the system's biggest one.
struct SockAddr {
    std::array<std::uint8_t, 128> bytes{};
    std::uint32_t length = 0;
};

// Resolves host and service for the family and type. An empty host is the wildcard
// address with passive set, else the loopback address; an empty service is "0".
bool Resolve(const std::string& host, const std::string& service, int family, int type, bool passive,
             SockAddr& out);

SocketFd Open(int family, int type);
// Shuts both directions down, then closes. Accepts kInvalidSocket.
void Close(SocketFd fd);
// Connects within timeoutMs (-1: the system's own limit). The socket stays blocking.
bool Connect(SocketFd fd, const SockAddr& address, int timeoutMs);
bool Bind(SocketFd fd, const SockAddr& address);
bool Listen(SocketFd fd, int backlog);
// kInvalidSocket on failure or when nothing arrived within timeoutMs (error WSAETIMEDOUT).
SocketFd Accept(SocketFd fd, int timeoutMs, SockAddr* peer);

bool SetReuseAddress(SocketFd fd, bool on);
bool SetBroadcast(SocketFd fd, bool on);
// Sends each write at once instead of gathering small ones.
bool SetNoDelay(SocketFd fd, bool on);

// 1 ready, 0 time-out, -1 error; timeoutMs -1 waits without limit.
int WaitReadable(SocketFd fd, int timeoutMs);
int WaitWritable(SocketFd fd, int timeoutMs);

// Bytes sent or received, -1 on error. A closed peer reads as 0. Sends never raise a
// signal on a closed connection.
int Send(SocketFd fd, const void* data, std::size_t length);
int SendTo(SocketFd fd, const void* data, std::size_t length, const SockAddr& to);
int Recv(SocketFd fd, void* buffer, std::size_t length);
int RecvFrom(SocketFd fd, void* buffer, std::size_t length, SockAddr* from);

// kSockStream, kSockDgram, or -1.
int SocketType(SocketFd fd);
bool PeerName(SocketFd fd, SockAddr& out);
// The bound port in host order, 0 on failure.
std::uint16_t LocalPort(SocketFd fd);
// The machine's host name, "" on failure.
std::string HostName();

}  // namespace net
