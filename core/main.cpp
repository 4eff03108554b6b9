// Program entry: the command line passed on, and a terminal's Ctrl-C or SIGTERM ending
// the program as the tray menu's exit command does; a second one ends it at once. The
// libraries' debug-output lines (the plug-ins cannot reach the logger) go into the log. A
// write past the file-size limit fails as one to a full disk does, with its log line and
// the user told, instead of ending the process without a word.
#include <csignal>
#include <string>

#include "CxLog.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "Signals.h"
#include "Text.h"

namespace {
// Caught rather than ignored: a program the client starts gets the default again.
void OnFileSizeLimit(int) {}
}  // namespace

int main(int argc, char** argv) {
    struct sigaction fileSizeLimit {};
    fileSizeLimit.sa_handler = OnFileSizeLimit;
    sigemptyset(&fileSizeLimit.sa_mask);
    fileSizeLimit.sa_flags = SA_RESTART;
    sigaction(SIGXFSZ, &fileSizeLimit, nullptr);
    Hooks().debugOutput = [](const std::wstring& line) {
        LOGF(LOG_WARNING, L"OutputDebugString", L"%s", line.c_str());
    };
    StartTerminationWatcher([] { AppExit(); }, EndAtOnce);
    std::wstring cmdLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) cmdLine += L' ';
        cmdLine += text::FromUtf8(argv[i]);
    }
    return wWinMain(cmdLine);
}
