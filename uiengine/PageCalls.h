// Native code calling the functions of a page. Each document (every frame is one)
// has its own function names: those its scripts define and those a test registers with
// the page host (EngineTest.h).
#pragma once

#include "EngineConstants.h"
#include "Value.h"

// Calls the page function `name` in the document of `he` and gives its result; FALSE when
// the document has no such function or it throws (the result is then undefined, and the
// failure is reported: ScriptOutput.h). Runs on the calling thread, inside the document's
// VM (ScriptVM.h). A registered handler runs in place of a script function; a call that
// reaches a script function writes "[<page file>] Name(<arguments as JSON, joined by
// ",">)" as a line to standard error first.
BOOL SciterCallScriptingFunction(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);
// Calls the method `name` of the element's own script object: only a test's handler, as no
// element has a script object here.
BOOL SciterCallScriptingMethod(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);
