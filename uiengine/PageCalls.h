// Native code calling the functions of a page. Each document (every frame is one)
// has its own function names: those its scripts declare ("function Name(") and those
// a test registers with the page host (EngineTest.h).
#pragma once

#include "EngineConstants.h"
#include "Value.h"

// Calls the page function `name` in the document of `he`; FALSE when the document has
// no such function (the result is then undefined). Runs on the calling thread. A
// registered handler runs in place of a declared function; a declared one has no body
// here: the call succeeds with an undefined result and writes
// "[<page file>] Name(<arguments as JSON, joined by ",">)" as a line to standard error.
BOOL SciterCallScriptingFunction(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);
// Calls the method `name` of the element's own script object.
BOOL SciterCallScriptingMethod(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result);
