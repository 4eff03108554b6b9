// Process signals: the crash filter and the terminal's request to end.
#pragma once

#include <functional>

// Calls onCrash(signal) on a fatal signal (segmentation fault, bus error, illegal
// instruction, arithmetic error, abort). It runs inside the signal handler: it may only
// use the async-signal-safe helpers below, and must end the process.
void InstallCrashHandler(void (*onCrash)(int signal));

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts later,
// and runs onTerminate on a thread of its own when the first arrives. Any later one
// runs onRepeat(signal), which must end the process at once: the orderly end may be
// what hangs. Without onRepeat the process ends with 128 + signal. Call it before any
// other thread starts.
void StartTerminationWatcher(std::function<void()> onTerminate, std::function<void(int signal)> onRepeat = nullptr);

// Async-signal-safe: appends one log line "<local time> <level> <file>(<function>, <line>): <text>\r\n"
// as UTF-16LE to the file. The texts must be ASCII. utcOffsetSeconds is taken once, outside
// the handler (LocalUtcOffset), since local time cannot be looked up there.
void AppendLogLineSafe(const char* file, const char* level, const char* source, const char* function, int line,
                       const char* text, long utcOffsetSeconds);
long LocalUtcOffset();
// Async-signal-safe decimal text of value into buffer (at least 12 bytes); returns buffer.
char* FormatIntSafe(int value, char* buffer);
// Ends the process at once, without exit handlers.
[[noreturn]] void ExitNow(int code);
