// What the engine tells about page scripts. A script's failure goes to the debug output
// of its window (SciterSetupDebugOutput), else to the process's (set with a null window),
// else to standard error, as one line. Each call that reaches a page function writes
// "[<page file>] Name(<arguments as JSON, joined by ",">)" to standard error: the
// headless counterpart of what the page would show. Both kinds of line go out through
// LineOutput.h, in the order they were made.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "Value.h"
#include "WinTypes.h"

namespace uie::detail {

// The last path segment of a document's URI: the page asked for, also when the host
// handed over the bytes of a file of another name (a scrambled page).
std::wstring_view PageFile(std::wstring_view uri);
// "[<page file>] ", which starts every line about the document's scripts.
std::wstring PageLabel(std::wstring_view uri);

void ReportScriptError(HWND hwnd, std::wstring_view text);
// The page label as its call lines start with it, made once per document from its page file.
std::string PageCallPrefix(std::wstring_view pageFile);
void WritePageCall(std::string_view prefix, std::string_view name, std::span<const value> args);

}  // namespace uie::detail
