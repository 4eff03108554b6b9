// One socket of the packet client. Each operation reports failure by its result and
// leaves the Windows Sockets error number as the thread's last error.
#pragma once

#include <atomic>

#include "Socket.h"
#include "WinTypes.h"

class CSocketHandle {
public:
    // Option bits of CreateSocket.
    static constexpr UINT SO_REUSEADDR_OPTION = 0x04;
    static constexpr UINT SO_BROADCAST_OPTION = 0x20;

    CSocketHandle() = default;
    ~CSocketHandle();
    CSocketHandle(const CSocketHandle&) = delete;
    CSocketHandle& operator=(const CSocketHandle&) = delete;

    // The socket library needs no start here; both report success.
    static bool InitLibrary(WORD version);
    static bool ReleaseLibrary();

    bool IsOpen() const { return m_hSocket.load() != net::kInvalidSocket; }

    // A connected socket to host:port; the connect gives up after timeoutMs. An empty
    // local host stands for any local address.
    bool ConnectTo(const char* localHost, const char* host, const char* port, int family, int type, int timeoutMs);
    // A socket bound to the local address; a stream socket also listens.
    bool CreateSocket(const char* localHost, const char* service, int family, int type, UINT options);
    // Bytes written or -1. timeoutMs -1 does not wait for the socket to be writable.
    int Write(const void* data, int length, const net::SockAddr* address, int timeoutMs);
    // Bytes read, 0 when nothing came within timeoutMs, -1 on an error or a closed peer.
    int Read(void* buffer, int length, net::SockAddr* address, int timeoutMs);
    // Safe against a second close from another thread.
    void Close();

    int GetSocketType() const;
    bool GetPeerName(net::SockAddr& address) const;
    // An empty host is any local address, an empty service "0".
    static bool GetAddressInfo(const char* host, const char* service, int family, int type, net::SockAddr& address);

private:
    // Opens a socket and keeps it only when setup succeeds on it.
    template <class Setup>
    bool OpenWith(int family, int type, Setup setup);

    std::atomic<net::SocketFd> m_hSocket{net::kInvalidSocket};
};
