#include "Hooks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwctype>
#include <iterator>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include <ifaddrs.h>
#include <signal.h>
#include <net/if.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include "HidTransport.h"
#include "SerialPort.h"
#include "Text.h"
#include "UserActivity.h"
#include "Window.h"
#include "ThreadWait.h"

extern char** environ;

namespace {

void RealLocalTime(SYSTEMTIME& st) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // localtime_r takes the C library's time-zone lock: threads asking many times a
    // second (the logger) would queue on it, so each converts a given second once.
    thread_local time_t convertedSecond = -1;
    thread_local tm converted{};
    if (ts.tv_sec != convertedSecond) {
        localtime_r(&ts.tv_sec, &converted);
        convertedSecond = ts.tv_sec;
    }
    const tm& local = converted;
    st.wYear = static_cast<WORD>(local.tm_year + 1900);
    st.wMonth = static_cast<WORD>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
    st.wDay = static_cast<WORD>(local.tm_mday);
    st.wHour = static_cast<WORD>(local.tm_hour);
    st.wMinute = static_cast<WORD>(local.tm_min);
    st.wSecond = static_cast<WORD>(local.tm_sec);
    st.wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

DWORD RealTickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<DWORD>(ms.count());  // wraps like the 32-bit tick count
}

constexpr auto kSystemCommandTimeout = std::chrono::seconds(10);

// Reaps a child on a detached thread, so no zombie stays.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
}

// Starts a program without a shell; 0 when it could not be started. A name without a
// slash is searched in PATH. It blocks no signal: the caller's threads hold SIGINT and
// SIGTERM for the program's own watcher, which a started program would otherwise keep.
pid_t SpawnProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return 0;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return 0;
    sigset_t none;
    sigemptyset(&none);
    pid_t pid = 0;
    const bool started = posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
                         posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK) == 0 &&
                         posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ) == 0;
    posix_spawnattr_destroy(&attributes);
    return started ? pid : 0;
}

bool Spawn(const std::vector<std::string>& argv) {
    const pid_t pid = SpawnProcess(argv);
    if (pid <= 0) return false;
    ReapLater(pid);
    return true;
}

// A short command whose answer counts: true only when it ends with status 0 in time.
// One that is still running after the time-out is left to end on its own.
bool RunToSuccess(const std::vector<std::string>& argv) {
    const pid_t pid = SpawnProcess(argv);
    if (pid <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + kSystemCommandTimeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            ReapLater(pid);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A bare program name is looked for in the current folder first, then in PATH, as
// the shell does: the programs the client starts lie beside it.
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const std::string local = "./" + name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(local, ec) && access(local.c_str(), X_OK) == 0) return local;
    return name;
}

bool RealStartProgram(const std::wstring& program, const std::vector<std::wstring>& args) {
    std::vector<std::string> argv{ResolveProgram(text::ToUtf8(program))};
    for (const auto& a : args) argv.push_back(text::ToUtf8(a));
    return Spawn(argv);
}

bool RealOpenDocument(const std::wstring& target) { return Spawn({"xdg-open", text::ToUtf8(target)}); }

bool RealSystemAction(SystemAction action) {
    switch (action) {
    case SystemAction::Shutdown: return RunToSuccess({"systemctl", "poweroff"});
    case SystemAction::Reboot: return RunToSuccess({"systemctl", "reboot"});
    case SystemAction::Logoff: return RunToSuccess({"loginctl", "terminate-session", "self"});
    case SystemAction::LockWorkstation: return RunToSuccess({"loginctl", "lock-session"});
    case SystemAction::ScreenSaverOn: return RunToSuccess({"xset", "s", "on"});
    case SystemAction::ScreenSaverOff: return RunToSuccess({"xset", "s", "off"});
    }
    return false;
}

bool RealIsOnline() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool online = false;
    for (ifaddrs* it = list; it != nullptr && !online; it = it->ifa_next) {
        const unsigned flags = it->ifa_flags;
        online = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return online;
}

// rand() of the Windows C library: 0 to RAND_MAX (32767), one sequence for the process.
int RealRandom() {
    static std::mutex lock;
    static std::minstd_rand engine(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    std::lock_guard guard(lock);
    return static_cast<int>(engine() % 32768u);
}

// The default answer is the default button, as pressing Enter would give.
int HeadlessMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) {
    std::fprintf(stderr, "[%s] %s\n", text::ToUtf8(caption).c_str(), text::ToUtf8(text).c_str());
    static const int kFirst[] = {IDOK, IDOK, IDABORT, IDYES, IDYES, IDRETRY};
    static const int kSecond[] = {IDOK, IDCANCEL, IDRETRY, IDNO, IDNO, IDCANCEL};
    const UINT buttons = type & 0xF;
    if (buttons >= std::size(kFirst)) return IDOK;
    if (type & MB_DEFBUTTON2) return kSecond[buttons];
    if ((type & MB_DEFBUTTON3) && buttons == MB_ABORTRETRYIGNORE) return IDIGNORE;
    if ((type & MB_DEFBUTTON3) && buttons == MB_YESNOCANCEL) return IDCANCEL;
    return kFirst[buttons];
}

void WriteToStandardError(const std::wstring& line) {
    std::fprintf(stderr, "%s\n", text::ToUtf8(line).c_str());
}

std::filesystem::path EnvFolder(const char* name, const std::filesystem::path& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::filesystem::path(value) : fallback;
}

// The XDG rule: a relative $XDG_CONFIG_HOME is invalid and ignored.
std::filesystem::path ConfigFolder() {
    const std::filesystem::path xdg = EnvFolder("XDG_CONFIG_HOME", {});
    if (xdg.is_absolute()) return xdg;
    return EnvFolder("HOME", "/tmp") / ".config";
}

}  // namespace

PlatformHooks DefaultHooks() {
    PlatformHooks h;
    h.localTime = RealLocalTime;
    h.tickCount = RealTickCount;
    h.longSleep = [](DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    h.exitProcess = [](int code) { std::_Exit(code); };
    h.messageBox = HeadlessMessageBox;
    h.startProgram = RealStartProgram;
    h.openDocument = RealOpenDocument;
    h.systemAction = RealSystemAction;
    h.isOnline = RealIsOnline;
    h.random = RealRandom;
    h.sysfsRoot = EnvFolder("QUORV_SYSFS_ROOT", "/sys");
    h.devRoot = EnvFolder("QUORV_DEV_ROOT", "/dev");
    h.hidTransport = MakeHidrawTransport();
    h.devicePause = [](DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    h.serialPorts = SerialPort::TableFrom(std::getenv("QUORV_COMPORTS"));
    h.mountsFile = EnvFolder("QUORV_MOUNTS", "/proc/self/mounts");
    h.configFolder = ConfigFolder();
    h.runtimeFolder = EnvFolder("XDG_RUNTIME_DIR", "/tmp");
    h.cursorPos = [](POINT& at) { at = POINT{0, 0}; };
    h.trackPopupMenu = [](HWND, HMENU) -> UINT { return 0; };
    h.foregroundProgram = [x = UserActivity::ForDisplay(std::getenv("DISPLAY"))] { return x->ForegroundProgram(); };
    h.lastInputTick = [x = UserActivity::ForDisplay(std::getenv("DISPLAY"))](DWORD& t) { return x->LastInputTick(t); };
    h.debugOutput = WriteToStandardError;
    return h;
}

PlatformHooks& Hooks() {
    static PlatformHooks hooks = DefaultHooks();
    return hooks;
}

HookScope::HookScope() : saved_(Hooks()) {}

HookScope::~HookScope() { Hooks() = saved_; }

void GetLocalTime(SYSTEMTIME* st) {
    if (st != nullptr) Hooks().localTime(*st);
}

DWORD GetTickCount() { return Hooks().tickCount(); }

void Sleep(DWORD ms) {
    // A sleep is how a thread here waits for another to let go of something.
    const LockGivenUp given;
    if (ms >= 1000) {
        Hooks().longSleep(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void DevicePause(DWORD ms) {
    if (ms >= 1000) {
        Sleep(ms);
        return;
    }
    const auto pause = Hooks().devicePause;
    if (pause) pause(ms);
}

void ExitProcess(UINT code) { Hooks().exitProcess(static_cast<int>(code)); }

int MessageBoxW(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    return Hooks().messageBox(text != nullptr ? text : L"", caption != nullptr ? caption : L"", type);
}

BOOL InternetGetConnectedState(DWORD* flags, DWORD) {
    const bool online = Hooks().isOnline();
    if (flags != nullptr) *flags = online ? 0x02 /* a LAN connection */ : 0;
    return online ? TRUE : FALSE;
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool quoted = false;
    bool inWord = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

UINT WinExec(const char* cmdLine, UINT) {
    if (cmdLine == nullptr) return 0;
    auto words = SplitCommandLine(text::FromAnsi(cmdLine));
    if (words.empty()) return 0;
    const std::wstring program = words.front();
    words.erase(words.begin());
    return Hooks().startProgram(program, words) ? 33 : ERROR_FILE_NOT_FOUND;
}

namespace {
bool EndsWithExe(const std::wstring& file) {
    if (file.size() < 4) return false;
    std::wstring ext = file.substr(file.size() - 4);
    for (auto& c : ext) c = static_cast<wchar_t>(std::towlower(c));
    return ext == L".exe";
}
}  // namespace

std::intptr_t ShellExecuteW(HWND, const wchar_t*, const wchar_t* file, const wchar_t* params, const wchar_t*,
                            int) {
    if (file == nullptr || *file == L'\0') return ERROR_FILE_NOT_FOUND;
    const std::wstring target = file;
    const bool program = EndsWithExe(target) || (params != nullptr && *params != L'\0');
    const bool ok = program ? Hooks().startProgram(target, SplitCommandLine(params != nullptr ? params : L""))
                            : Hooks().openDocument(target);
    return ok ? 42 : ERROR_FILE_NOT_FOUND;
}

bool RunSystemAction(SystemAction action) { return Hooks().systemAction(action); }

void OutputDebugStringW(const wchar_t* text) {
    if (text == nullptr) return;
    std::wstring_view line(text);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.remove_suffix(1);
    Hooks().debugOutput(std::wstring(line));
}
