// The script object "share": what every page may use, whatever its window. The clock and
// integer dates, the settings the settings page shows, calls into another window's page,
// health notes, user actions and function use, the media player and the device windows,
// and a few system actions. It keeps no state but the already flag.
#pragma once

#include <atomic>
#include <memory>

#include "ScriptVM.h"

// Set by any page's SetAlReady and read by every page's isAlready; false at start.
extern std::atomic<bool> g_bAlReady;

// Defines "share" on a page's VM.
bool RegisterShareScriptObject(HVM vm);
// The object's tables, built once per process whichever thread registers first.
std::shared_ptr<const uie::NativeObjectDef> ShareScriptObjectDef();

// Makes the device window on first use (one window however many callers race) and brings
// it to the front; mode 2 also has the pedometer window ask for the step ranking. False,
// logged, only when the window object cannot be made.
bool OpenPedometerWin(int mode);
bool OpenBloodPressureWin(int mode);
