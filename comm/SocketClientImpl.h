// The client side of the packet protocol: one connection per exchange, a main and a
// backup server, and failover between them. One client belongs to one socket worker.
#pragma once

#include <array>
#include <chrono>
#include <mutex>
#include <string>

#include "SocketHandle.h"

class SocketClientImpl {
public:
    static constexpr int kBufferSize = 4096;
    // The largest reply accepted, its length field included.
    static constexpr int kLimitLen = 4095;
    // The smallest reply that holds a whole header.
    static constexpr int kMinLen = 11;
    // A reply refused for its announced length: the server was reached and answered.
    static constexpr int kReplyRefused = -9;

    SocketClientImpl();
    SocketClientImpl(const SocketClientImpl&) = delete;
    SocketClientImpl& operator=(const SocketClientImpl&) = delete;

    // Hosts and ports are UTF-8. SetServer sets the main and the current server.
    void SetServer(const std::string& host, const std::string& port);
    void SetBackupServer(const std::string& host, const std::string& port);
    void SetSocketType(int type);
    void SetTimeout(int milliseconds);
    // Kept for the settings' sake; every exchange uses the main server's type and time-out.
    void SetBackupSocketType(int type);
    void SetBackupTimeout(int milliseconds);

    std::string GetCurrentHost() const;
    std::string GetCurrentPort() const;

    // Held by the caller across SendWithFailover and the reading of the reply, so a
    // synchronous request that borrows this client never mixes with the worker's.
    std::mutex& ExchangeLock() { return m_exchangeLock; }

    // 0 opened, -1 already open, -2 not opened or not connected.
    int StartClient(const char* localHost, const std::string& host, const std::string& port, int family, int type,
                    UINT options);
    // The reply's byte count (4 or more), 0 when no whole length field arrived, -9 for an
    // announced length outside 11..4095, a StartClient failure, or -1 (also whenever no
    // reply is wanted).
    int SendMsg(const std::string& host, const std::string& port, const char* data, int length, bool wantReply);
    // The current server first, then the other one; the server that answered stays current.
    int SendWithFailover(const char* data, int length, bool wantReply);
    // The byte count of the whole reply that its length field (the first 4 received bytes)
    // announces, or -9 (logged) when that lies outside kMinLen..kLimitLen.
    static int CheckReplyLength(const char* lengthField);

    const char* GetRecvBuffer() const { return m_recvBuffer.data(); }
    int GetRecvLength() const { return m_nRecvLength; }

    // Errors after which the connection is gone for good.
    static bool IsConnectionDropped(DWORD error);

private:
    // Reads until `want` bytes are at `offset` or the deadline passes; the bytes read so far.
    int ReadFully(int offset, int want, int* reads, std::chrono::steady_clock::time_point deadline);

    std::mutex m_exchangeLock;
    mutable std::mutex m_settingsLock;  // servers and settings, changed while workers run
    std::string m_currentHost;
    std::string m_currentPort;
    int m_nTimeout = 30000;
    int m_nFamily = net::kAfInet;
    int m_nSocketType = net::kSockStream;
    std::string m_mainHost;
    std::string m_mainPort;
    std::string m_backupHost;
    std::string m_backupPort;
    int m_nBackupSocketType = net::kSockStream;
    int m_nBackupTimeout = 30000;
    std::array<char, kBufferSize> m_recvBuffer{};
    int m_nRecvLength = -1;
    CSocketHandle m_socket;
};
