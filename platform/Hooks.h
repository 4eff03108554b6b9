// Outside effects the program has on the machine and its clock, each behind one hook.
// The real implementation is the default; tests replace a hook (HookScope restores it)
// so that no test waits for real minutes, ends the test process or acts on the machine.
// Hooks are replaced before the threads that use them start.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WinTypes.h"

class HidTransport;
struct POINT;
struct HMENU__;
using HMENU = HMENU__*;

enum class SystemAction {
    Shutdown,        // power the machine off
    Reboot,
    Logoff,
    LockWorkstation,
    ScreenSaverOn,   // let the screen saver run (it is not started now)
    ScreenSaverOff,  // keep the screen saver from running
};

struct PlatformHooks {
    std::function<void(SYSTEMTIME&)> localTime;
    std::function<DWORD()> tickCount;
    // Sleeps of a second or more; shorter sleeps always wait for real.
    std::function<void(DWORD ms)> longSleep;
    std::function<void(int code)> exitProcess;
    // Answers a message box; headless there is nobody to click.
    std::function<int(const std::wstring& text, const std::wstring& caption, UINT type)> messageBox;
    // Starts a program with an argument vector (never through a shell); true once it
    // started. A bare name is looked for in the current folder, then in PATH.
    std::function<bool(const std::wstring& program, const std::vector<std::wstring>& args)> startProgram;
    // Opens a page or document with the desktop's handler.
    std::function<bool(const std::wstring& target)> openDocument;
    // True only when the action was carried out (its command succeeded).
    std::function<bool(SystemAction action)> systemAction;
    std::function<bool()> isOnline;
    // The program's pseudo-random numbers (rand()): 0 to 32767, safe from any thread.
    std::function<int()> random;
    // Whether the chart player's program id resolves; no such player exists here.
    bool flashInstalled = false;
    // Where USB devices are described; $QUORV_SYSFS_ROOT at start, else /sys.
    std::filesystem::path sysfsRoot;
    // The folder of the hidraw device nodes; $QUORV_DEV_ROOT at start, else /dev.
    std::filesystem::path devRoot;
    // HID report I/O; the hidraw backend unless a test puts a simulated device here.
    std::shared_ptr<HidTransport> hidTransport;
    // The fixed pauses of a device protocol between its attempts and steps (under a
    // second each, so not longSleep): tests count them instead of waiting.
    std::function<void(DWORD ms)> devicePause;
    // The tty paths of COM1..COM8, an empty one for no port: $QUORV_COMPORTS at start
    // ("COM3=/dev/pts/7,COM4=/dev/ttyUSB0", the ports it leaves out do not exist), else
    // /dev/ttyS0../dev/ttyS7.
    std::array<std::string, 8> serialPorts;
    // The mounted volumes, in the format of /proc/self/mounts; $QUORV_MOUNTS at start,
    // else /proc/self/mounts.
    std::filesystem::path mountsFile;
    // The user's settings folder: $XDG_CONFIG_HOME, else ~/.config (holds autostart/).
    std::filesystem::path configFolder;
    // Where named mutexes keep their lock files.
    std::filesystem::path runtimeFolder;
    // Where the mouse pointer is (GetCursorPos). Headless there is none: it rests at the
    // screen's top-left corner, outside every window the program places.
    std::function<void(POINT& at)> cursorPos;
    // The user's pick in a menu that TrackPopupMenu would show (Shell.h): a command id,
    // 0 for none. Nobody is there to pick, so by default nothing is chosen.
    std::function<UINT(HWND owner, HMENU menu)> trackPopupMenu;
    // The full path of the program in the foreground, empty when none is known; and the
    // tick count of the last keyboard or mouse input, false when unknown (UserActivity.h).
    std::function<std::wstring()> foregroundProgram;
    std::function<bool(DWORD& tick)> lastInputTick;
    // The lines a library has for the program's log (OutputDebugStringW): the plug-ins
    // cannot reach the program's logger, so the program routes this into it at start.
    // By default each line goes to standard error.
    std::function<void(const std::wstring& line)> debugOutput;
};

// The hooks in force. Tests change members directly inside a HookScope.
PlatformHooks& Hooks();
// The real implementations, as the program starts with them.
PlatformHooks DefaultHooks();

// Restores the hooks in force at construction when it goes out of scope.
class HookScope {
public:
    HookScope();
    ~HookScope();
    HookScope(const HookScope&) = delete;
    HookScope& operator=(const HookScope&) = delete;

private:
    PlatformHooks saved_;
};

// Windows-named entry points that go through the hooks.
void GetLocalTime(SYSTEMTIME* st);
DWORD GetTickCount();
void Sleep(DWORD ms);
// A fixed pause of a device protocol: one under a second through the devicePause hook,
// a longer one through Sleep and its long-sleep hook.
void DevicePause(DWORD ms);
// Ends the process through the exit hook; returns only when a test's hook does.
void ExitProcess(UINT code);
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// 1 with *flags set when any network connection is up, 0 otherwise.
BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved);
// Starts a command line: the program (first word, quotes honoured) and its arguments.
// Returns a value above 31 on success, as Windows does.
UINT WinExec(const char* cmdLine, UINT show);
// "open" of a program starts it with the parameters split into arguments; anything
// else (a page, a document, a URL) goes to the desktop's handler. Above 32 on success.
std::intptr_t ShellExecuteW(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* params,
                            const wchar_t* dir, int show);
bool RunSystemAction(SystemAction action);
// One line for the program's log through the debug-output hook; a trailing line break
// is dropped, since the log ends each line itself.
void OutputDebugStringW(const wchar_t* text);

// Splits a command line into words the way the Windows command line does: blanks
// separate, double quotes group and are removed.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);
