#include "SocketClientImpl.h"

#include <cstdint>
#include <cstring>

#include "CxLog.h"
#include "LastError.h"
#include "Text.h"

namespace {
constexpr const wchar_t* kSendMsg = L"SocketClientImpl<class ISocketClientHandler,4096>::SendMsg";

std::int64_t ReadLength(const char* p) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(p);
    const std::uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    return static_cast<std::int32_t>(v);
}
}  // namespace

SocketClientImpl::SocketClientImpl() = default;

void SocketClientImpl::SetServer(const std::string& host, const std::string& port) {
    std::lock_guard lock(m_settingsLock);
    m_mainHost = m_currentHost = host;
    m_mainPort = m_currentPort = port;
}

void SocketClientImpl::SetBackupServer(const std::string& host, const std::string& port) {
    std::lock_guard lock(m_settingsLock);
    m_backupHost = host;
    m_backupPort = port;
}

void SocketClientImpl::SetSocketType(int type) {
    std::lock_guard lock(m_settingsLock);
    m_nSocketType = type;
}

void SocketClientImpl::SetTimeout(int milliseconds) {
    std::lock_guard lock(m_settingsLock);
    m_nTimeout = milliseconds;
}

void SocketClientImpl::SetBackupSocketType(int type) {
    std::lock_guard lock(m_settingsLock);
    m_nBackupSocketType = type;
}

void SocketClientImpl::SetBackupTimeout(int milliseconds) {
    std::lock_guard lock(m_settingsLock);
    m_nBackupTimeout = milliseconds;
}

std::string SocketClientImpl::GetCurrentHost() const {
    std::lock_guard lock(m_settingsLock);
    return m_currentHost;
}

std::string SocketClientImpl::GetCurrentPort() const {
    std::lock_guard lock(m_settingsLock);
    return m_currentPort;
}

int SocketClientImpl::StartClient(const char* localHost, const std::string& host, const std::string& port,
                                  int family, int type, UINT options) {
    if (m_socket.IsOpen()) return -1;
    int timeout;
    {
        std::lock_guard lock(m_settingsLock);
        timeout = m_nTimeout;
    }
    const bool ok = type == net::kSockStream
                        ? m_socket.ConnectTo(localHost, host.c_str(), port.c_str(), family, type, timeout)
                        : m_socket.CreateSocket(localHost, "0", family, type, options);
    return ok ? 0 : -2;
}

int SocketClientImpl::ReadFully(int offset, int want, int* reads, std::chrono::steady_clock::time_point deadline) {
    const bool bounded = deadline != std::chrono::steady_clock::time_point::max();
    int got = 0;
    while (got < want) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (bounded && left.count() <= 0) break;
        const int timeout = bounded ? static_cast<int>(left.count()) : -1;
        const int n = m_socket.Read(m_recvBuffer.data() + offset + got, want - got, nullptr, timeout);
        ++*reads;
        if (n <= 0) break;
        got += n;
    }
    return got;
}

int SocketClientImpl::SendMsg(const std::string& host, const std::string& port, const char* data, int length,
                              bool wantReply) {
    m_nRecvLength = -1;
    int family, type, timeout;
    {
        std::lock_guard lock(m_settingsLock);
        family = m_nFamily;
        type = m_nSocketType;
        timeout = m_nTimeout;
    }
    const int started = StartClient(nullptr, host, port, family, type, 0);
    if (started < 0) {
        LOGF(LOG_ERROR, kSendMsg, L"StartClient fail![%d][%s][%s]", started, text::FromUtf8(host).c_str(),
             text::FromUtf8(port).c_str());
        return started;
    }

    int sent = -1;
    if (type == net::kSockStream) {
        sent = m_socket.Write(data, length, nullptr, -1);
    } else {
        net::SockAddr to;
        if (CSocketHandle::GetAddressInfo(host.c_str(), port.c_str(), family, type, to))
            sent = m_socket.Write(data, length, &to, -1);
    }

    if (sent == length && wantReply) {
        m_recvBuffer.fill(0);
        m_nRecvLength = 0;
        int got;
        int reads = 0;
        // The time-out bounds the whole reply: a server that trickles it cannot hold the exchange.
        const auto deadline = timeout < 0 ? std::chrono::steady_clock::time_point::max()
                                          : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
        if (type == net::kSockStream) {
            got = ReadFully(0, 4, &reads, deadline);
        } else {
            // A datagram must be taken whole: what one read leaves behind is gone.
            net::SockAddr from;
            got = m_socket.Read(m_recvBuffer.data(), kBufferSize, &from, timeout);
        }
        if (got >= 4) {
            const int needed = CheckReplyLength(m_recvBuffer.data());
            if (needed < 0) {
                m_socket.Close();
                return needed;
            }
            if (type == net::kSockStream) {
                reads = 0;
                m_nRecvLength = 4 + ReadFully(4, needed - 4, &reads, deadline);
                if (reads > 1) LOGF(LOG_WARNING, kSendMsg, L"multi times read [%d][%d]", needed, m_nRecvLength);
            } else {
                m_nRecvLength = got;
            }
        }
    }

    const DWORD error = GetLastError();
    m_socket.Close();
    if (sent != length || m_nRecvLength < 0) SetLastError(error);
    return m_nRecvLength;
}

int SocketClientImpl::CheckReplyLength(const char* lengthField) {
    // 64 bits, so a hostile length field cannot overflow the sum.
    const std::int64_t needed = ReadLength(lengthField) + 4;
    if (needed > kLimitLen) {
        LOGF(LOG_ERROR, kSendMsg, L"nNeedLen[%I64d] > nLimitLen[%d]!!!", static_cast<long long>(needed), kLimitLen);
        return kReplyRefused;
    }
    if (needed < kMinLen) {
        LOGF(LOG_ERROR, kSendMsg, L"nNeedLen[%I64d] < nMinLen[%d]!!!", static_cast<long long>(needed), kMinLen);
        return kReplyRefused;
    }
    return static_cast<int>(needed);
}

int SocketClientImpl::SendWithFailover(const char* data, int length, bool wantReply) {
    std::string host, port, otherHost, otherPort;
    {
        std::lock_guard lock(m_settingsLock);
        host = m_currentHost;
        port = m_currentPort;
        const bool onMain = host == m_mainHost && port == m_mainPort;
        otherHost = onMain ? m_backupHost : m_mainHost;
        otherPort = onMain ? m_backupPort : m_mainPort;
    }
    const int result = SendMsg(host, port, data, length, wantReply);
    // A refused reply came from a server that is there: the other one is not asked.
    if (result > 0 || result == kReplyRefused) return result;
    // No second server configured: nothing to fail over to.
    if (otherHost.empty()) return result;
    const int second = SendMsg(otherHost, otherPort, data, length, wantReply);
    if (second < 1) return second;
    std::lock_guard lock(m_settingsLock);
    m_currentHost = otherHost;
    m_currentPort = otherPort;
    return second;
}

bool SocketClientImpl::IsConnectionDropped(DWORD error) {
    switch (error) {
    case net::WSAENOTSOCK:
    case net::WSAENETDOWN:
    case net::WSAENETUNREACH:
    case net::WSAENETRESET:
    case net::WSAECONNABORTED:
    case net::WSAECONNRESET:
    case net::WSAESHUTDOWN:
    case net::WSAEHOSTDOWN:
    case net::WSAEHOSTUNREACH:
        return true;
    default:
        return false;
    }
}
