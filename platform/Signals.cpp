#include "Signals.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

void (*g_onCrash)(int) = nullptr;

void CrashHandler(int signal) {
    if (g_onCrash != nullptr) g_onCrash(signal);
    ExitNow(128 + signal);
}

// Calendar date of a day count since 1970-01-01.
void CivilFromDays(long days, int& year, int& month, int& day) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

void PutDigits(char*& out, long value, int width) {
    char* end = out + width;
    for (char* p = end - 1; p >= out; --p) {
        *p = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out = end;
}

void PutText(char*& out, const char* end, const char* text) {
    while (*text != '\0' && out < end) *out++ = *text++;
}

}  // namespace

void InstallCrashHandler(void (*onCrash)(int signal)) {
    g_onCrash = onCrash;
    struct sigaction action {};
    action.sa_handler = CrashHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(signal, &action, nullptr);
}

void StartTerminationWatcher(std::function<void()> onTerminate, std::function<void(int signal)> onRepeat) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, onTerminate = std::move(onTerminate), onRepeat = std::move(onRepeat)] {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) return;
        std::thread(onTerminate).detach();
        while (sigwait(&set, &signal) != 0) {
        }
        if (onRepeat) onRepeat(signal);
        ExitNow(128 + signal);
    }).detach();
}

long LocalUtcOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_gmtoff;
}

char* FormatIntSafe(int value, char* buffer) {
    char digits[12];
    int n = 0;
    long v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    char* out = buffer;
    if (negative) *out++ = '-';
    while (n > 0) *out++ = digits[--n];
    *out = '\0';
    return buffer;
}

void AppendLogLineSafe(const char* file, const char* level, const char* source, const char* function, int line,
                       const char* text, long utcOffsetSeconds) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const long local = static_cast<long>(ts.tv_sec) + utcOffsetSeconds;
    int year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(local / 86400, year, month, day);
    const long secondOfDay = local % 86400;

    char ascii[512];
    char* out = ascii;
    const char* end = ascii + sizeof ascii - 3;
    PutDigits(out, year, 4);
    *out++ = '-';
    PutDigits(out, month, 2);
    *out++ = '-';
    PutDigits(out, day, 2);
    *out++ = ' ';
    PutDigits(out, secondOfDay / 3600, 2);
    *out++ = ':';
    PutDigits(out, secondOfDay / 60 % 60, 2);
    *out++ = ':';
    PutDigits(out, secondOfDay % 60, 2);
    *out++ = '.';
    PutDigits(out, ts.tv_nsec / 1000000, 3);
    char number[12];
    const char* lineText = FormatIntSafe(line, number);
    for (const char* piece : {" ", level, " ", source, "(", function, ", ", lineText, "): ", text}) {
        PutText(out, end, piece);
    }
    *out++ = '\r';
    *out++ = '\n';

    char wide[sizeof ascii * 2];
    std::size_t bytes = 0;
    for (const char* p = ascii; p < out; ++p) {
        wide[bytes++] = *p;
        wide[bytes++] = '\0';
    }
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const ssize_t written = ::write(fd, wide, bytes);
    (void)written;
    ::close(fd);
}

void ExitNow(int code) { _exit(code); }
