// Program entry: the command line passed on, and a terminal's Ctrl-C or SIGTERM ending
// the program as the tray menu's exit command does; a second one ends it at once. The
// libraries' debug-output lines (the plug-ins cannot reach the logger) go into the log.
#include <string>

#include "CxLog.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "Signals.h"
#include "Text.h"

int main(int argc, char** argv) {
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
