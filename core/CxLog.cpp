#include "CxLog.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "Hooks.h"
#include "Text.h"
#include "ThreadWait.h"

namespace {

constexpr std::size_t kFormatBufferChars = 1024;
constexpr auto kShutdownWait = std::chrono::milliseconds(500);
constexpr std::size_t kWriteChunkChars = 64 * 1024;
const wchar_t* const kLevelNames[] = {L"Message", L"Warning", L"Exception", L"Error"};

// One call's finished line (and its data block): built by the calling thread, so the
// writer only joins lines, and a call costs one text.
struct LogRecord {
    std::wstring line;
    std::string data;
};

// "yyyy-mm-dd hh:mm:ss.mmm", appended by hand: every log call pays for it.
void AppendTime(std::wstring& out, const SYSTEMTIME& st) {
    const auto put = [&out](unsigned value, int digits, wchar_t after) {
        const std::size_t at = out.size();
        out.append(static_cast<std::size_t>(digits), L'0');
        for (int i = digits - 1; i >= 0; --i, value /= 10) out[at + static_cast<std::size_t>(i)] = L'0' + value % 10;
        if (after != L'\0') out += after;
    };
    put(st.wYear % 10000, 4, L'-');
    put(st.wMonth % 100, 2, L'-');
    put(st.wDay % 100, 2, L' ');
    put(st.wHour % 100, 2, L':');
    put(st.wMinute % 100, 2, L':');
    put(st.wSecond % 100, 2, L'.');
    put(st.wMilliseconds % 1000, 3, L'\0');
}

// The file name without its folder, whichever separator the build used.
std::wstring_view BaseName(const wchar_t* file) {
    const std::wstring_view name(file);
    const auto cut = name.find_last_of(L"\\/");
    return cut == std::wstring_view::npos ? name : name.substr(cut + 1);
}

void AppendLevel(std::wstring& out, int level) {
    if (level >= 0 && level < 4) {
        out += kLevelNames[level];
    } else {
        out += std::to_wstring(level);
    }
}

std::wstring FormatLine(const SYSTEMTIME& st, const wchar_t* file, const wchar_t* function, int line, int level,
                        std::wstring_view text) {
    const std::wstring_view fileName = file != nullptr ? BaseName(file) : std::wstring_view();
    const std::wstring_view functionName = function != nullptr ? std::wstring_view(function) : std::wstring_view();
    std::wstring out;
    out.reserve(48 + fileName.size() + functionName.size() + text.size());
    AppendTime(out, st);
    out += L' ';
    AppendLevel(out, level);
    out += L' ';
    out += fileName;
    out += L'(';
    out += functionName;
    out += L", ";
    out += std::to_wstring(file != nullptr ? line : 0);
    out += L"): ";
    out += text;
    // A text that already ends its line must not leave an empty line behind it.
    const bool textEndsLine = text.size() >= 2 && text.substr(text.size() - 2) == L"\r\n";
    if (!textEndsLine) out += L"\r\n";
    return out;
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

// errno of the call that just failed; a failure that set none still counts as one.
int FailureCode() { return errno != 0 ? errno : EIO; }

std::filesystem::path DailyFileName(const std::filesystem::path& folder) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", st.wYear, st.wMonth, st.wDay);
    return folder / name;
}

// The records one thread has queued and the writer has not taken yet. Each thread
// appends to its own buffer, so callers on different threads never wait for each other;
// the writer takes every buffer whole, which keeps each thread's lines in order.
struct ThreadBuffer {
    std::mutex lock;  // the owning thread and the writer
    std::vector<LogRecord> records;
    std::atomic<bool> threadEnded{false};
};

}  // namespace

struct CxLog::Queue {
    std::filesystem::path fileName;
    std::mutex lock;  // the buffer list, the pass counters and the stop flag
    std::condition_variable dataEvent;
    std::condition_variable writtenEvent;
    std::vector<std::shared_ptr<ThreadBuffer>> buffers;
    std::atomic<bool> pending{false};  // set by the first record after a pass began
    std::uint64_t passesStarted = 0;
    std::uint64_t passesDone = 0;
    bool stop = false;
    std::atomic<bool> alive{true};
    std::atomic<bool> writerEnded{false};

    ThreadBuffer& BufferOfThisThread(const std::shared_ptr<Queue>& self);
    void Wake();
    void Run();
    std::vector<LogRecord> TakeAll(const std::vector<std::shared_ptr<ThreadBuffer>>& from);
    void ForgetEndedThreads();
    bool AllTaken();
    void WriteBatch(const std::vector<LogRecord>& batch);
    void ReportFailure(int error);
    bool failureReported = false;  // the writer's only
};

namespace {

// This thread's buffer in each logger it has written to. The entries of loggers that
// are gone are dropped when the thread first writes to another one.
struct ThreadBuffers {
    struct Entry {
        std::weak_ptr<void> queue;  // the logger's queue, only to tell whether it is gone
        const void* key;
        std::shared_ptr<ThreadBuffer> buffer;
    };
    std::vector<Entry> entries;

    ~ThreadBuffers() {
        for (Entry& e : entries) e.buffer->threadEnded = true;
    }
};

thread_local ThreadBuffers t_buffers;

}  // namespace

ThreadBuffer& CxLog::Queue::BufferOfThisThread(const std::shared_ptr<Queue>& self) {
    for (const ThreadBuffers::Entry& e : t_buffers.entries) {
        if (e.key == this && !e.queue.expired()) return *e.buffer;
    }
    std::erase_if(t_buffers.entries, [](const ThreadBuffers::Entry& e) { return e.queue.expired(); });
    auto buffer = std::make_shared<ThreadBuffer>();
    {
        std::lock_guard<std::mutex> guard(lock);
        buffers.push_back(buffer);
    }
    t_buffers.entries.push_back({self, this, buffer});
    return *buffer;
}

// Only the first record after a pass began wakes the writer; the lock keeps that wake-up
// from falling between the writer's look at `pending` and its wait.
void CxLog::Queue::Wake() {
    if (pending.exchange(true)) return;
    {
        std::lock_guard<std::mutex> guard(lock);
    }
    dataEvent.notify_one();
}

// The lock is held only to start and end a pass, so a caller never waits on the disk.
void CxLog::Queue::Run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        threadwait::Wait(dataEvent, guard, [this] { return stop || pending.load(); });
        const bool last = stop;
        ++passesStarted;
        pending = false;  // a record queued from here on wakes the next pass
        const std::vector<std::shared_ptr<ThreadBuffer>> from = buffers;
        guard.unlock();
        WriteBatch(TakeAll(from));
        guard.lock();
        ++passesDone;
        ForgetEndedThreads();
        writtenEvent.notify_all();
        if (last) break;
    }
    writerEnded = true;
    guard.unlock();
    writtenEvent.notify_all();
}

std::vector<LogRecord> CxLog::Queue::TakeAll(const std::vector<std::shared_ptr<ThreadBuffer>>& from) {
    std::vector<LogRecord> batch;
    std::vector<LogRecord> taken;
    for (const auto& buffer : from) {
        {
            std::lock_guard<std::mutex> guard(buffer->lock);
            taken.swap(buffer->records);
        }
        std::move(taken.begin(), taken.end(), std::back_inserter(batch));
        taken.clear();
    }
    return batch;
}

// Called with the queue lock held.
void CxLog::Queue::ForgetEndedThreads() {
    std::erase_if(buffers, [](const std::shared_ptr<ThreadBuffer>& buffer) {
        if (!buffer->threadEnded) return false;
        std::lock_guard<std::mutex> guard(buffer->lock);
        return buffer->records.empty();
    });
}

// Called with the queue lock held.
bool CxLog::Queue::AllTaken() {
    return std::all_of(buffers.begin(), buffers.end(), [](const std::shared_ptr<ThreadBuffer>& buffer) {
        std::lock_guard<std::mutex> guard(buffer->lock);
        return buffer->records.empty();
    });
}

// Nobody reads the log while the program runs, so a log that cannot be written would go
// unnoticed: the first failure is said on standard error, and the program runs on.
void CxLog::Queue::ReportFailure(int error) {
    if (failureReported) return;
    failureReported = true;
    std::fprintf(stderr, "CxLog: cannot write %s: %s\n", fileName.string().c_str(),
                 std::generic_category().message(error).c_str());
}

void CxLog::Queue::WriteBatch(const std::vector<LogRecord>& batch) {
    if (batch.empty()) return;
    std::FILE* f = std::fopen(fileName.c_str(), "ab");
    if (f == nullptr) {
        // The folder may have gone, or the current directory changed since start.
        std::error_code ec;
        std::filesystem::create_directories(fileName.parent_path(), ec);
        f = std::fopen(fileName.c_str(), "ab");
    }
    if (f == nullptr) {
        ReportFailure(FailureCode());
        return;  // the batch is dropped; the next one tries again
    }
    // In pieces, so a large backlog never needs its whole text in memory at once.
    std::wstring textOut;
    int error = 0;
    for (std::size_t i = 0; i < batch.size() && error == 0; ++i) {
        textOut += batch[i].line;
        if (!batch[i].data.empty()) textOut += HexDump(batch[i].data);
        if (textOut.size() < kWriteChunkChars && i + 1 < batch.size()) continue;
        const std::string bytes = text::ToUtf16LeBytes(textOut);
        if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) error = FailureCode();
        textOut.clear();
    }
    // A full disk may show only as the buffer goes out.
    if (std::fclose(f) != 0 && error == 0) error = FailureCode();
    if (error != 0) ReportFailure(error);
}

CxLog::CxLog(const std::filesystem::path& folder) : queue_(std::make_shared<Queue>()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    queue_->fileName = DailyFileName(folder);
    writer_ = std::thread([q = queue_] { q->Run(); });
}

CxLog::~CxLog() { Shutdown(); }

namespace {

// Made on first use: the folder may be set during another file's static initialisation.
struct InstancePlace {
    std::mutex lock;
    std::filesystem::path folder = "Log";
    bool made = false;
};

InstancePlace& Place() {
    static InstancePlace place;
    return place;
}

}  // namespace

bool CxLog::SetInstanceFolder(const std::filesystem::path& folder) {
    InstancePlace& place = Place();
    std::lock_guard<std::mutex> guard(place.lock);
    if (place.made) return false;
    place.folder = folder;
    return true;
}

CxLog* CxLog::GetInstance() {
    // Never destroyed: worker threads may log while the process ends.
    static CxLog* instance = [] {
        InstancePlace& place = Place();
        std::lock_guard<std::mutex> guard(place.lock);
        place.made = true;
        auto* log = new CxLog(place.folder);
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
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LogRecord r{FormatLine(st, file, function, line, level, text != nullptr ? std::wstring_view(text) : L""), {}};
    if (data != nullptr && dataLen > 0) r.data.assign(reinterpret_cast<const char*>(data), dataLen);
    ThreadBuffer& buffer = queue_->BufferOfThisThread(queue_);
    {
        std::lock_guard<std::mutex> guard(buffer.lock);
        buffer.records.push_back(std::move(r));
    }
    queue_->Wake();
    return TRUE;
}

void CxLog::WriteFormat(const wchar_t* file, const wchar_t* function, int line, int level, const wchar_t* format,
                        ...) {
    if (format == nullptr) return;
    // One buffer per thread: the formatted text is copied into the line at once.
    thread_local std::wstring textOut;
    va_list args;
    va_start(args, format);
    text::VFormatW(textOut, kFormatBufferChars, format, args);
    va_end(args);
    Write(file, function, line, level, textOut.c_str());
}

bool CxLog::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(queue_->lock);
    if (queue_->writerEnded) return queue_->AllTaken();
    // A pass that starts after this point takes every record queued before the call.
    const std::uint64_t target = queue_->passesStarted + 1;
    queue_->pending = true;
    queue_->dataEvent.notify_one();
    return threadwait::WaitFor(queue_->writtenEvent, guard, timeout, [&] {
        return queue_->passesDone >= target || queue_->writerEnded.load();
    }) && queue_->passesDone >= target;
}

void CxLog::Shutdown() {
    if (!queue_->alive.exchange(false)) return;
    {
        std::lock_guard<std::mutex> guard(queue_->lock);
        queue_->stop = true;
    }
    queue_->dataEvent.notify_one();
    std::unique_lock<std::mutex> guard(queue_->lock);
    const bool ended =
        threadwait::WaitFor(queue_->writtenEvent, guard, kShutdownWait, [&] { return queue_->writerEnded.load(); });
    guard.unlock();
    // A writer stuck on the disk cannot be killed; it keeps its own share of the queue.
    if (ended) {
        threadwait::Join(writer_);
    } else {
        writer_.detach();
    }
}
