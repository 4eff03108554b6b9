// Program entry and start-up: the program-wide state, the creation of the main objects,
// the loading of all data after login, the script objects of every page, and the
// orderly end of the process.
#pragma once

#include <atomic>
#include <string>

#include "ScriptVM.h"
#include "WinTypes.h"

// 1 while the program runs; 4 once it is ending, which every worker loop checks.
extern std::atomic<int> g_nRunState;
// 1 started with "autoRun", 2 with "dataSync", else 0.
extern std::atomic<int> g_nRunMode;
// The system's version code 1..7, sent to the server; 0 until known.
extern std::atomic<int> g_nOsVersion;
// Set by the first LoadAllData; the data is loaded once per process.
extern std::atomic<bool> g_bAllDataLoaded;

// The program's entry with its command line; 0 or -1 on the early exits. The normal
// end is AppExit.
int wWinMain(const std::wstring& cmdLine);

// Makes the program's own folder the current directory; 1, or 0 on failure.
int SetCurDir();

// The code for a system version: 2 for 5.0, 3 for 5.1, 4 for 5.2, 5 to 7 for 6.x and
// later, 1 for anything else.
int WindowsVersionCode(DWORD platformId, DWORD major, DWORD minor, DWORD build);
void GetWindowsVersion();

// 1 for "autoRun", else 2 for "dataSync", else 0 (case-sensitive, anywhere in the line).
int RunModeFromCommandLine(const std::wstring& cmdLine);

struct struConfig;
// The stored account allows logging in without the login page: run mode above 0 or the
// automatic-login setting, and account, password, user id and a user number above 0.
bool CanLoginAutomatically(const struConfig& config);

// Creates every singleton whose global is still null, in a fixed order; -1 when one
// could not be made.
int InitMainObject();

// The loading sequence after login; 0. When a step that must succeed fails, the user is
// told and the program ends (-1 only when the exit hook returns).
int LoadAllData();

// Shows one loading step on the login page as "<label>...".
void ShowLoadingStep(std::wstring label);

// Registers the script objects of the program's singletons that exist now on one
// page's VM, before the page loads. Returns 1.
int RegisterScriptObjects(HVM vm);

// Keeps the log file and the local time offset for the crash filter, which can look
// nothing up itself; called once the logger runs.
void PrepareCrashLog();
// Logs the run state and ends the process on a fatal signal.
void CustomUnhandledExceptionFilter(int signal);
// A second signal to end, while the orderly end (which may be what hangs) is under way:
// the log and the pages' call lines written out, each within its bound, for the caller
// to end the process at once.
void EndAtOnce(int signal);

// Ends the process from any thread: the main window's orderly end, run state 4, the
// log written out, the exit code (0 for a normal end). An end begun before on another
// thread is waited for instead: the process ends once, with that end's code. Returns
// only when a test replaced the exit hook.
void AppExit(int exitCode = 0);
// AppExit with run state 4 set first, for an end the user was told about: the workers
// stop before the main window's end (which then skips the logout).
void EndProgram(int exitCode = 0);
// The server's order to end: the main window's end, every window told to quit, the log
// written out; once and within the same bound as AppExit.
void ForcedExit(int exitCode = 0);
