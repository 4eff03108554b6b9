#include "HttpClient.h"

#include <mutex>

namespace {

// libcurl treats any count other than size x count as a write error and ends the transfer.
std::size_t WriteToFile(std::FILE* file, const char* data, std::size_t size, std::size_t count) {
    return std::fwrite(data, size, count, file) * size;
}

std::size_t AppendToString(std::string* text, const char* data, std::size_t size, std::size_t count) {
    text->append(data, size * count);
    return size * count;
}

int Trace(CURL*, curl_infotype type, char* data, std::size_t size, void*) {
    const char* prefix = nullptr;
    switch (type) {
        case CURLINFO_HEADER_IN: prefix = "[HEADER_IN]"; break;
        case CURLINFO_HEADER_OUT: prefix = "[HEADER_OUT]"; break;
        case CURLINFO_DATA_IN: prefix = "[DATA_IN]"; break;
        case CURLINFO_DATA_OUT: prefix = "[DATA_OUT]"; break;
        default: return 0;
    }
    std::fputs(prefix, stdout);
    std::fwrite(data, 1, size, stdout);
    std::fputc('\n', stdout);
    return 0;
}

HttpOptionValue Recorded(long value) { return {value, {}}; }
HttpOptionValue Recorded(const char* value) { return {value != nullptr ? 1 : 0, value != nullptr ? value : ""}; }
template <class P>
    requires std::is_pointer_v<P>
HttpOptionValue Recorded(P value) {
    return {value != nullptr ? 1 : 0, {}};
}

}  // namespace

std::size_t CHttpClient::WriteReply(char* data, std::size_t size, std::size_t count, void* sinkData) {
    auto* sink = static_cast<ReplySink*>(sinkData);
    const std::size_t bytes = size * count;
    if (data == nullptr || sink == nullptr) return 0;
    sink->received += static_cast<long long>(bytes);
    if (sink->received > sink->limit) return 0;
    if (std::FILE* const* file = std::get_if<std::FILE*>(&sink->target); file != nullptr && *file != nullptr)
        return WriteToFile(*file, data, size, count);
    if (std::string* const* text = std::get_if<std::string*>(&sink->target); text != nullptr && *text != nullptr)
        return AppendToString(*text, data, size, count);
    return 0;
}

HttpOptionRecorder& CHttpClient::OptionRecorder() {
    static HttpOptionRecorder recorder;
    return recorder;
}

template <class T>
CURLcode CHttpClient::SetOpt(CURL* handle, CURLoption option, T value) {
    if (const HttpOptionRecorder& recorder = OptionRecorder()) recorder(option, Recorded(value));
    return curl_easy_setopt(handle, option, value);
}

CHttpClient::~CHttpClient() {
    if (m_handle != nullptr) curl_easy_cleanup(m_handle);
    m_handle = nullptr;
}

int CHttpClient::Init() {
    // Not thread-safe inside the first curl_easy_init, and two synchronisations may
    // start at once: the global set-up runs once, before any handle.
    static std::once_flag global;
    std::call_once(global, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (m_handle != nullptr) curl_easy_cleanup(m_handle);
    m_handle = curl_easy_init();
    return m_handle != nullptr ? 0 : CURLE_FAILED_INIT;
}

CURL* CHttpClient::HandleFor(CURL* handle) {
    if (handle != nullptr) return handle;
    if (m_handle == nullptr) Init();
    return m_handle;
}

int CHttpClient::Request(const std::string& url, const std::string& body, HttpWriteTarget target) {
    return body.empty() ? Get(nullptr, url, target) : Post(nullptr, url, body, target);
}

int CHttpClient::Post(CURL* handle, const std::string& url, const std::string& body, HttpWriteTarget target) {
    if (body.empty()) return Get(handle, url, target);
    handle = HandleFor(handle);
    if (handle == nullptr) return CURLE_FAILED_INIT;
    SetLeadOptions(handle, url);
    SetOpt(handle, CURLOPT_POST, 1L);
    SetOpt(handle, CURLOPT_POSTFIELDS, body.c_str());
    SetTransferOptions(handle, target);
    SetOpt(handle, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(m_nResumeFrom));
    SetProxyOptions(handle);
    return Perform(handle);
}

int CHttpClient::Get(CURL* handle, const std::string& url, HttpWriteTarget target) {
    handle = HandleFor(handle);
    if (handle == nullptr) return CURLE_FAILED_INIT;
    SetLeadOptions(handle, url);
    // Options stay on the handle: without this a GET after a POST goes out as a POST
    // of the earlier, freed body.
    SetOpt(handle, CURLOPT_HTTPGET, 1L);
    SetTransferOptions(handle, target);
    SetProxyOptions(handle);
    return Perform(handle);
}

void CHttpClient::SetLeadOptions(CURL* handle, const std::string& url) {
    if (m_bDebug) {
        SetOpt(handle, CURLOPT_VERBOSE, 1L);
        SetOpt(handle, CURLOPT_DEBUGFUNCTION, &Trace);
    }
    SetOpt(handle, CURLOPT_URL, url.c_str());
}

void CHttpClient::SetTransferOptions(CURL* handle, HttpWriteTarget target) {
    SetOpt(handle, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    // A target of the other kind than the write mode names is none.
    const bool toFile = m_nWriteMode == kWriteToFile;
    if (toFile != std::holds_alternative<std::FILE*>(target)) target = HttpWriteTarget(static_cast<std::FILE*>(nullptr));
    m_sink = {target, 0, m_nMaxReplyBytes};
    SetOpt(handle, CURLOPT_WRITEFUNCTION, &WriteReply);
    SetOpt(handle, CURLOPT_WRITEDATA, static_cast<void*>(&m_sink));
    SetOpt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_nMaxReplyBytes));
    m_errorText[0] = '\0';
    SetOpt(handle, CURLOPT_ERRORBUFFER, static_cast<char*>(m_errorText));
    SetOpt(handle, CURLOPT_NOSIGNAL, 1L);
    SetOpt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_nConnectTimeout));
    if (m_nTimeoutMs > 0)
        SetOpt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(m_nTimeoutMs));
    else
        SetOpt(handle, CURLOPT_TIMEOUT, static_cast<long>(m_nTimeout));
    SetOpt(handle, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(m_nMinRate));
    SetOpt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_nStallTime));
    if (m_nSpeedLimit > 0)
        SetOpt(handle, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(m_nSpeedLimit) * 1024);
    if (m_progress != nullptr) {
        SetOpt(handle, CURLOPT_NOPROGRESS, 0L);
        SetOpt(handle, CURLOPT_XFERINFOFUNCTION, m_progress);
        SetOpt(handle, CURLOPT_XFERINFODATA, m_progressData);
    }
}

void CHttpClient::SetProxyOptions(CURL* handle) {
    if (!m_proxy.empty()) SetOpt(handle, CURLOPT_PROXY, m_proxy.c_str());
    if (m_nProxyPort > 0) SetOpt(handle, CURLOPT_PROXYPORT, static_cast<long>(m_nProxyPort));
    if (!m_proxyUserPwd.empty()) SetOpt(handle, CURLOPT_PROXYUSERPWD, m_proxyUserPwd.c_str());
}

int CHttpClient::Perform(CURL* handle) const {
    CURLcode result = curl_easy_perform(handle);
    // The write callback's refusal at the limit says only "write error".
    if (result == CURLE_WRITE_ERROR && m_sink.received > m_sink.limit) result = CURLE_FILESIZE_EXCEEDED;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    // Redirects are not followed and an error page is no reply.
    if (result == CURLE_OK && (status < 200 || status > 299)) result = CURLE_HTTP_RETURNED_ERROR;
    return result;
}

std::string CHttpClient::EscapeFormValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}
