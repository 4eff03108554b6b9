// Native code calling the functions of a page. Each document (every frame is one)
// has its own function names: those its scripts define and those a test registers with
// the page host (EngineTest.h).
#pragma once

#include "EngineConstants.h"
#include "Value.h"

// Calls the page function `name` in the document of `he` and gives its result; FALSE when
// the document has no such function or it throws (the result is then undefined, and the
// failure is reported: ScriptOutput.h). Only a function the document's scripts made counts,
// never a builtin (eval) or a native. Runs on the thread of the document's window: from
// another thread it is sent there and waited for, within a bound past which it is given up
// and reported (ThreadCall.h). A registered handler runs in place of a script function,
// there too; a call that reaches a script
// function writes "[<page file>] Name(<arguments as JSON, joined by ",">)" as a line to
// standard error first.
BOOL SciterCallScriptingFunction(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);
// Calls the method `name` of the element's own script object: only a test's handler, as no
// element has a script object here.
BOOL SciterCallScriptingMethod(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);

namespace uie {
// Writes out the call lines still gathered for writing, for an end of the process that runs
// no exit handlers (_exit, _Exit), from a signal handler too: it waits a quarter of a second
// at most for a thread adding a line or writing.
void FlushPageCallLines();
}  // namespace uie
