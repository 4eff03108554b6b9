// One HTTP request at a time over one libcurl easy handle, the reply body going to a
// file stream or a narrow string. Each instance belongs to the thread that made it.
#pragma once

#include <curl/curl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

// Where a reply body goes: a stream opened for binary writing (write mode 2) or a
// string it is appended to (any other mode). A target of the other kind counts as none.
using HttpWriteTarget = std::variant<std::FILE*, std::string*>;

// An option value as a test sees it: numbers as they are, texts as text, any other
// pointer as 1 (set) or 0 (none).
struct HttpOptionValue {
    long long number = 0;
    std::string text;
};
using HttpOptionRecorder = std::function<void(CURLoption option, const HttpOptionValue& value)>;

class CHttpClient {
public:
    // libcurl's transfer-information callback; a non-zero result ends the transfer.
    using ProgressFunction = int (*)(void* data, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                                     curl_off_t ulNow);
    static constexpr int kWriteToFile = 2;

    CHttpClient() = default;
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // 0, or CURLE_FAILED_INIT (2) when libcurl gives no handle. Replaces a handle it has.
    int Init();
    // A POST when the body is not empty, else a GET; libcurl's result code, with a reply
    // status outside 200-299 as CURLE_HTTP_RETURNED_ERROR. The body is sent as it stands.
    int Request(const std::string& url, const std::string& body, HttpWriteTarget target);
    // A null handle means the object's own (made when missing). An empty body is a GET.
    int Post(CURL* handle, const std::string& url, const std::string& body, HttpWriteTarget target);
    int Get(CURL* handle, const std::string& url, HttpWriteTarget target);

    // libcurl's words for why the last request failed (which time-out ended it, say);
    // empty after a success.
    const char* LastError() const { return m_errorText; }
    // The reply body's bytes that the last request received.
    long long ReceivedBytes() const { return m_sink.received; }

    // A form value as application/x-www-form-urlencoded carries it: letters, digits and
    // "-._~" stay, every other byte becomes %XX.
    static std::string EscapeFormValue(std::string_view value);

    // Every option the client sets, in order, goes here first while it is set (tests).
    static HttpOptionRecorder& OptionRecorder();

    // Settings, read at each request.
    bool m_bDebug = false;           // libcurl's verbose output through the trace callback
    std::string m_proxy;             // set only when not empty
    int m_nProxyPort = -1;           // set only when above 0
    std::string m_proxyUserPwd;      // "user:password", set only when not empty
    ProgressFunction m_progress = nullptr;
    void* m_progressData = nullptr;
    int m_nConnectTimeout = 30;      // seconds
    int m_nTimeout = 6000;           // seconds, the whole transfer
    int m_nTimeoutMs = 0;            // when above 0: the whole transfer in milliseconds, in its place
    // A transfer slower than the minimum rate (bytes a second) for the stall time (seconds)
    // fails: a server that stops sending cannot hold a request for the whole time-out.
    int m_nStallTime = 60;
    int m_nMinRate = 1;
    int m_nSpeedLimit = 0;           // KB/s; 0 or less: none
    int m_nWriteMode = 1;
    int m_nResumeFrom = 0;           // bytes, POST only
    // A reply body longer than this ends the transfer with CURLE_FILESIZE_EXCEEDED,
    // announced by the server or not: a server cannot fill memory or disk.
    long long m_nMaxReplyBytes = 16LL << 20;

private:
    // The seam every option passes through.
    template <class T>
    static CURLcode SetOpt(CURL* handle, CURLoption option, T value);
    // The options both kinds of request set: before the method's own, between them and
    // after them.
    void SetLeadOptions(CURL* handle, const std::string& url);
    void SetTransferOptions(CURL* handle, HttpWriteTarget target);
    void SetProxyOptions(CURL* handle);
    int Perform(CURL* handle) const;
    // The write callback: the body into the request's target, up to the reply limit.
    static std::size_t WriteReply(char* data, std::size_t size, std::size_t count, void* sink);
    // The handle to use: the one given, else the object's own (made when missing).
    CURL* HandleFor(CURL* handle);

    // Where the write callback puts the body of the request under way, and how much of it came.
    struct ReplySink {
        HttpWriteTarget target;
        long long received = 0;
        long long limit = 0;
    };

    CURL* m_handle = nullptr;
    ReplySink m_sink;
    char m_errorText[CURL_ERROR_SIZE] = {};
};
