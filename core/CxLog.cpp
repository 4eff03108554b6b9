#include "CxLog.h"

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>

#include "Hooks.h"
#include "Text.h"

namespace {

constexpr std::size_t kFormatBufferChars = 1024;
constexpr auto kShutdownWait = std::chrono::milliseconds(500);
const wchar_t* const kLevelNames[] = {L"Message", L"Warning", L"Exception", L"Error"};

struct LogRecord {
    std::wstring timeText;
    std::wstring file;
    std::wstring function;
    int line = 0;
    int level = 0;
    std::wstring text;
    std::string data;
};

std::wstring TimeText(const SYSTEMTIME& st) {
    wchar_t buf[32];
    std::swprintf(buf, std::size(buf), L"%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return buf;
}

// The file name without its folder, whichever separator the build used.
std::wstring BaseName(const wchar_t* file) {
    std::wstring name = file;
    const auto cut = name.find_last_of(L"\\/");
    return cut == std::wstring::npos ? name : name.substr(cut + 1);
}

std::wstring LevelName(int level) {
    return (level >= 0 && level < 4) ? kLevelNames[level] : std::to_wstring(level);
}

std::wstring FormatLine(const LogRecord& r) {
    std::wstring line = r.timeText + L' ' + LevelName(r.level) + L' ' + r.file + L'(' + r.function + L", " +
                        std::to_wstring(r.line) + L"): " + r.text + L"\r\n";
    // A text that already ends its line must not leave an empty line behind it.
    const bool textEndsLine = r.text.size() >= 2 && r.text.compare(r.text.size() - 2, 2, L"\r\n") == 0;
    if (line.size() > 4 && textEndsLine) line.resize(line.size() - 2);
    return line;
}

// 76 characters per 16 bytes: offset, 16 hex cells, 16 characters, CR LF.
std::wstring HexDump(const std::string& data) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    out.reserve((data.size() / 16 + 1) * 76);
    for (std::size_t offset = 0; offset < data.size(); offset += 16) {
        wchar_t prefix[16];
        std::swprintf(prefix, std::size(prefix), L"%08X: ", static_cast<unsigned>(offset));
        out += prefix;
        for (std::size_t i = 0; i < 16; ++i) {
            if (offset + i < data.size()) {
                const auto b = static_cast<unsigned char>(data[offset + i]);
                out += kHex[b >> 4];
                out += kHex[b & 0xF];
                out += L' ';
            } else {
                out += L"   ";
            }
        }
        for (std::size_t i = 0; i < 16; ++i) {
            if (offset + i < data.size()) {
                const auto b = static_cast<unsigned char>(data[offset + i]);
                out += std::iscntrl(b) ? L' ' : static_cast<wchar_t>(b);
            } else {
                out += L' ';
            }
        }
        out += L"\r\n";
    }
    return out;
}

std::filesystem::path DailyFileName(const std::filesystem::path& folder) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", st.wYear, st.wMonth, st.wDay);
    return folder / name;
}

}  // namespace

struct CxLog::Queue {
    std::filesystem::path fileName;
    std::mutex lock;
    std::condition_variable dataEvent;
    std::condition_variable writtenEvent;
    std::deque<LogRecord> records;
    std::uint64_t queuedCount = 0;
    std::uint64_t writtenCount = 0;
    bool stop = false;
    std::atomic<bool> alive{true};
    std::atomic<bool> writerEnded{false};

    void Run();
    void WriteBatch(const std::deque<LogRecord>& batch);
};

// The lock is held only to take the batch, so a caller never waits on the disk.
void CxLog::Queue::Run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        dataEvent.wait(guard, [this] { return stop || !records.empty(); });
        if (records.empty() && stop) break;
        std::deque<LogRecord> batch;
        batch.swap(records);
        guard.unlock();
        WriteBatch(batch);
        guard.lock();
        writtenCount += batch.size();
        writtenEvent.notify_all();
    }
    writerEnded = true;
    guard.unlock();
    writtenEvent.notify_all();
}

void CxLog::Queue::WriteBatch(const std::deque<LogRecord>& batch) {
    std::wstring textOut;
    for (const auto& r : batch) {
        textOut += FormatLine(r);
        if (!r.data.empty()) textOut += HexDump(r.data);
    }
    std::FILE* f = std::fopen(fileName.c_str(), "ab");
    if (f == nullptr) {
        // The folder may have gone, or the current directory changed since start.
        std::error_code ec;
        std::filesystem::create_directories(fileName.parent_path(), ec);
        f = std::fopen(fileName.c_str(), "ab");
    }
    if (f == nullptr) return;  // the batch is dropped; the next one tries again
    const std::string bytes = text::ToUtf16LeBytes(textOut);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

CxLog::CxLog(const std::filesystem::path& folder) : queue_(std::make_shared<Queue>()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    queue_->fileName = DailyFileName(folder);
    writer_ = std::thread([q = queue_] { q->Run(); });
}

CxLog::~CxLog() { Shutdown(); }

CxLog* CxLog::GetInstance() {
    // Never destroyed: worker threads may log while the process ends.
    static CxLog* instance = [] {
        auto* log = new CxLog(std::filesystem::path("Log"));
        std::atexit([] { CxLog::GetInstance()->Shutdown(); });
        return log;
    }();
    return instance;
}

const std::filesystem::path& CxLog::FileName() const { return queue_->fileName; }

BOOL CxLog::Write(const wchar_t* file, const wchar_t* function, int line, int level, const wchar_t* text,
                  const BYTE* data, int dataLen) {
    if (!queue_->alive) {
        std::fputs("CxLog has destroy!\n", stderr);
        return FALSE;
    }
    LogRecord r;
    SYSTEMTIME st{};
    GetLocalTime(&st);
    r.timeText = TimeText(st);
    if (file != nullptr) {
        r.file = BaseName(file);
        r.line = line;
    }
    if (function != nullptr) r.function = function;
    if (text != nullptr) r.text = text;
    r.level = level;
    if (data != nullptr && dataLen > 0) r.data.assign(reinterpret_cast<const char*>(data), dataLen);
    {
        std::lock_guard<std::mutex> guard(queue_->lock);
        queue_->records.push_back(std::move(r));
        ++queue_->queuedCount;
    }
    queue_->dataEvent.notify_one();
    return TRUE;
}

void CxLog::WriteFormat(const wchar_t* file, const wchar_t* function, int line, int level, const wchar_t* format,
                        ...) {
    if (format == nullptr) return;
    std::wstring textOut;
    va_list args;
    va_start(args, format);
    text::VFormatW(textOut, kFormatBufferChars, format, args);
    va_end(args);
    Write(file, function, line, level, textOut.c_str());
}

bool CxLog::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(queue_->lock);
    const auto target = queue_->queuedCount;
    return queue_->writtenEvent.wait_for(guard, timeout, [&] {
        return queue_->writtenCount >= target || queue_->writerEnded.load();
    }) && queue_->writtenCount >= target;
}

void CxLog::Shutdown() {
    if (!queue_->alive.exchange(false)) return;
    {
        std::lock_guard<std::mutex> guard(queue_->lock);
        queue_->stop = true;
    }
    queue_->dataEvent.notify_one();
    std::unique_lock<std::mutex> guard(queue_->lock);
    const bool ended = queue_->writtenEvent.wait_for(guard, kShutdownWait, [&] { return queue_->writerEnded.load(); });
    guard.unlock();
    // A writer stuck on the disk cannot be killed; it keeps its own share of the queue.
    if (ended) {
        writer_.join();
    } else {
        writer_.detach();
    }
}
