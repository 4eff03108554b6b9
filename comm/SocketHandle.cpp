#include "SocketHandle.h"

#include <climits>

#include "LastError.h"

namespace {
constexpr DWORD kErrorAlreadyOpen = 5;
const char* OrEmpty(const char* s) { return s ? s : ""; }
}  // namespace

CSocketHandle::~CSocketHandle() { Close(); }

bool CSocketHandle::InitLibrary(WORD) { return true; }
bool CSocketHandle::ReleaseLibrary() { return true; }

bool CSocketHandle::GetAddressInfo(const char* host, const char* service, int family, int type,
                                   net::SockAddr& address) {
    return net::Resolve(OrEmpty(host), OrEmpty(service), family, type, true, address);
}

template <class Setup>
bool CSocketHandle::OpenWith(int family, int type, Setup setup) {
    if (IsOpen()) {
        SetLastError(kErrorAlreadyOpen);
        return false;
    }
    const net::SocketFd fd = net::Open(family, type);
    if (fd == net::kInvalidSocket) return false;
    if (!setup(fd)) {
        const DWORD error = GetLastError();  // closing must not hide why the setup failed
        net::Close(fd);
        SetLastError(error);
        return false;
    }
    m_hSocket = fd;
    return true;
}

bool CSocketHandle::ConnectTo(const char* localHost, const char* host, const char* port, int family, int type,
                              int timeoutMs) {
    return OpenWith(family, type, [&](net::SocketFd fd) {
        net::SockAddr local;
        net::SockAddr remote;
        return GetAddressInfo(localHost, "0", family, type, local) && GetAddressInfo(host, port, family, type, remote) &&
               net::Connect(fd, remote, timeoutMs);
    });
}

bool CSocketHandle::CreateSocket(const char* localHost, const char* service, int family, int type, UINT options) {
    return OpenWith(family, type, [&](net::SocketFd fd) {
        net::SockAddr local;
        bool ok = true;
        if (options & SO_REUSEADDR_OPTION) ok = net::SetReuseAddress(fd, true);
        if (ok && type == net::kSockDgram && family == net::kAfInet && (options & SO_BROADCAST_OPTION))
            ok = net::SetBroadcast(fd, true);
        ok = ok && GetAddressInfo(localHost, service, family, type, local) && net::Bind(fd, local);
        if (ok && type == net::kSockStream) ok = net::Listen(fd, INT_MAX);
        return ok;
    });
}

int CSocketHandle::Write(const void* data, int length, const net::SockAddr* address, int timeoutMs) {
    const net::SocketFd fd = m_hSocket.load();
    if (fd == net::kInvalidSocket || data == nullptr || length < 0) {
        SetLastError(net::WSAENOTSOCK);
        return -1;
    }
    if (timeoutMs != -1 && net::WaitWritable(fd, timeoutMs) != 1) return -1;
    const auto n = static_cast<std::size_t>(length);
    return address ? net::SendTo(fd, data, n, *address) : net::Send(fd, data, n);
}

int CSocketHandle::Read(void* buffer, int length, net::SockAddr* address, int timeoutMs) {
    const net::SocketFd fd = m_hSocket.load();
    if (fd == net::kInvalidSocket || buffer == nullptr || length <= 0) {
        SetLastError(net::WSAENOTSOCK);
        return -1;
    }
    if (timeoutMs != -1) {
        const int ready = net::WaitReadable(fd, timeoutMs);
        if (ready != 1) return ready;
    }
    const auto n = static_cast<std::size_t>(length);
    const int got = address ? net::RecvFrom(fd, buffer, n, address) : net::Recv(fd, buffer, n);
    if (got == 0) {
        SetLastError(net::WSAECONNRESET);
        return -1;
    }
    return got;
}

void CSocketHandle::Close() { net::Close(m_hSocket.exchange(net::kInvalidSocket)); }

int CSocketHandle::GetSocketType() const {
    const net::SocketFd fd = m_hSocket.load();
    return fd == net::kInvalidSocket ? -1 : net::SocketType(fd);
}

bool CSocketHandle::GetPeerName(net::SockAddr& address) const {
    const net::SocketFd fd = m_hSocket.load();
    return fd != net::kInvalidSocket && net::PeerName(fd, address);
}
