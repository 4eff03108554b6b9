// Every test program logs into a folder of its own, removed when the process ends: tests
// that count log lines run side by side (ctest -j8, each program also whole and shuffled)
// and must count only their own process's lines.
#include "CxLog.h"
#include "TempDir.h"

namespace {

// Made before any test runs, so before the logger; it goes after the logger has written
// its last lines at exit.
const TempDir kLogFolder;
const bool kLogFolderSet = CxLog::SetInstanceFolder(kLogFolder.Path() / "Log");

}  // namespace
