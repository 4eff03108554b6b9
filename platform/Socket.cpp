#include "Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "LastError.h"

namespace net {

static_assert(sizeof(sockaddr_storage) <= sizeof(SockAddr::bytes));

namespace {

DWORD ToWsaError(int error) {
    switch (error) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case EPIPE: case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSASYSCALLFAILURE;
    }
}

void SetSocketError(int error) { SetLastError(ToWsaError(error)); }

const sockaddr* Raw(const SockAddr& a) { return reinterpret_cast<const sockaddr*>(a.bytes.data()); }
sockaddr* Raw(SockAddr& a) { return reinterpret_cast<sockaddr*>(a.bytes.data()); }

int WaitFor(SocketFd fd, short events, int timeoutMs) {
    if (fd == kInvalidSocket) {
        SetLastError(WSAENOTSOCK);
        return -1;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0) {
            if (p.revents & POLLNVAL) {
                SetLastError(WSAENOTSOCK);
                return -1;
            }
            return 1;  // errors and hang-ups show up on the following call
        }
        if (n == 0) {
            SetLastError(WSAETIMEDOUT);
            return 0;
        }
        if (errno != EINTR) {
            SetSocketError(errno);
            return -1;
        }
    }
}

bool SetFlag(SocketFd fd, int level, int option, bool on) {
    const int value = on ? 1 : 0;
    if (::setsockopt(fd, level, option, &value, sizeof value) != 0) {
        SetSocketError(errno);
        return false;
    }
    return true;
}

}  // namespace

bool Resolve(const std::string& host, const std::string& service, int family, int type, bool passive,
             SockAddr& out) {
    addrinfo hints{};
    hints.ai_family = family == kAfInet ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = type == kSockDgram ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.empty() ? "0" : service.c_str(),
                                 &hints, &result);
    if (rc != 0 || result == nullptr) {
        SetLastError(rc == EAI_SYSTEM ? ToWsaError(errno) : WSAHOST_NOT_FOUND);
        return false;
    }
    const std::size_t length = result->ai_addrlen;
    const bool fits = length <= out.bytes.size();
    if (fits) {
        out.bytes.fill(0);
        std::memcpy(out.bytes.data(), result->ai_addr, length);
        out.length = static_cast<std::uint32_t>(length);
    }
    ::freeaddrinfo(result);
    if (!fits) SetLastError(WSAEFAULT);
    return fits;
}

SocketFd Open(int family, int type) {
    const int fd = ::socket(family == kAfInet ? AF_INET : family, (type == kSockDgram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetSocketError(errno);
        return kInvalidSocket;
    }
    return fd;
}

void Close(SocketFd fd) {
    if (fd == kInvalidSocket) return;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

bool Connect(SocketFd fd, const SockAddr& address, int timeoutMs) {
    if (timeoutMs < 0) {
        if (::connect(fd, Raw(address), address.length) == 0) return true;
        SetSocketError(errno);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        SetSocketError(errno);
        return false;
    }
    bool ok = ::connect(fd, Raw(address), address.length) == 0;
    int error = ok ? 0 : errno;
    if (!ok && error == EINPROGRESS) {
        const int ready = WaitFor(fd, POLLOUT, timeoutMs);
        if (ready == 1) {
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            ok = error == 0;
        } else {
            error = ready == 0 ? ETIMEDOUT : EBADF;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    if (!ok) SetSocketError(error);
    return ok;
}

bool Bind(SocketFd fd, const SockAddr& address) {
    if (::bind(fd, Raw(address), address.length) == 0) return true;
    SetSocketError(errno);
    return false;
}

bool Listen(SocketFd fd, int backlog) {
    if (::listen(fd, backlog) == 0) return true;
    SetSocketError(errno);
    return false;
}

SocketFd Accept(SocketFd fd, int timeoutMs, SockAddr* peer) {
    if (WaitFor(fd, POLLIN, timeoutMs) != 1) return kInvalidSocket;
    SockAddr local;
    SockAddr& target = peer ? *peer : local;
    socklen_t len = target.bytes.size();
    const int client = ::accept4(fd, Raw(target), &len, SOCK_CLOEXEC);
    if (client < 0) {
        SetSocketError(errno);
        return kInvalidSocket;
    }
    target.length = len;
    return client;
}

bool SetReuseAddress(SocketFd fd, bool on) { return SetFlag(fd, SOL_SOCKET, SO_REUSEADDR, on); }
bool SetBroadcast(SocketFd fd, bool on) { return SetFlag(fd, SOL_SOCKET, SO_BROADCAST, on); }
bool SetNoDelay(SocketFd fd, bool on) { return SetFlag(fd, IPPROTO_TCP, TCP_NODELAY, on); }

int WaitReadable(SocketFd fd, int timeoutMs) { return WaitFor(fd, POLLIN, timeoutMs); }
int WaitWritable(SocketFd fd, int timeoutMs) { return WaitFor(fd, POLLOUT, timeoutMs); }

int Send(SocketFd fd, const void* data, std::size_t length) {
    ssize_t n;
    do n = ::send(fd, data, length, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0) SetSocketError(errno);
    return static_cast<int>(n);
}

int SendTo(SocketFd fd, const void* data, std::size_t length, const SockAddr& to) {
    ssize_t n;
    do n = ::sendto(fd, data, length, MSG_NOSIGNAL, Raw(to), to.length);
    while (n < 0 && errno == EINTR);
    if (n < 0) SetSocketError(errno);
    return static_cast<int>(n);
}

int Recv(SocketFd fd, void* buffer, std::size_t length) {
    ssize_t n;
    do n = ::recv(fd, buffer, length, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) SetSocketError(errno);
    return static_cast<int>(n);
}

int RecvFrom(SocketFd fd, void* buffer, std::size_t length, SockAddr* from) {
    SockAddr local;
    SockAddr& target = from ? *from : local;
    socklen_t len = target.bytes.size();
    ssize_t n;
    do n = ::recvfrom(fd, buffer, length, 0, Raw(target), &len);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetSocketError(errno);
        return -1;
    }
    target.length = len;
    return static_cast<int>(n);
}

int SocketType(SocketFd fd) {
    int type = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
        SetSocketError(errno);
        return -1;
    }
    return type == SOCK_DGRAM ? kSockDgram : type == SOCK_STREAM ? kSockStream : type;
}

bool PeerName(SocketFd fd, SockAddr& out) {
    socklen_t len = out.bytes.size();
    if (::getpeername(fd, Raw(out), &len) != 0) {
        SetSocketError(errno);
        return false;
    }
    out.length = len;
    return true;
}

std::uint16_t LocalPort(SocketFd fd) {
    sockaddr_storage address{};
    socklen_t len = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
        SetSocketError(errno);
        return 0;
    }
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        SetSocketError(errno);
        return {};
    }
    return name;
}

}  // namespace net
