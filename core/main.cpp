// Program entry: the command line passed on, and a terminal's Ctrl-C or SIGTERM ending
// the program as the tray menu's exit command does.
#include <string>

#include "Quorvix.h"
#include "Signals.h"
#include "Text.h"

int main(int argc, char** argv) {
    StartTerminationWatcher([] { AppExit(); });
    std::wstring cmdLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) cmdLine += L' ';
        cmdLine += text::FromUtf8(argv[i]);
    }
    return wWinMain(cmdLine);
}
