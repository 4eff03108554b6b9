#include "internal/ScriptOutput.h"

#include <mutex>
#include <string>

#include "PageCalls.h"
#include "Text.h"
#include "internal/LineOutput.h"
#include "internal/State.h"

namespace uie::detail {
namespace {

std::wstring Label(std::wstring_view pageFile) { return L"[" + std::wstring(pageFile) + L"] "; }

void WriteLine(std::string line) {
    line += '\n';
    LineOutput::Instance().Write(line);
}

}  // namespace

std::wstring_view PageFile(std::wstring_view uri) {
    uri = uri.substr(0, uri.find_first_of(L"?#"));
    const std::size_t slash = uri.rfind(L'/');
    return slash == std::wstring_view::npos ? uri : uri.substr(slash + 1);
}

std::wstring PageLabel(std::wstring_view uri) { return Label(PageFile(uri)); }

void ReportScriptError(HWND hwnd, std::wstring_view text) {
    DebugOutputProc proc = nullptr;
    void* param = nullptr;
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        auto it = hwnd != nullptr ? e.windows.find(hwnd) : e.windows.end();
        if (it != e.windows.end() && it->second.debugProc != nullptr) {
            proc = it->second.debugProc;
            param = it->second.debugParam;
        } else {
            proc = e.debugProc;
            param = e.debugParam;
        }
    }
    if (proc == nullptr) {
        WriteLine(text::ToUtf8(text));
        return;
    }
    const std::wstring line(text);  // NUL-terminated for the receiver
    proc(param, OUTPUT_SUBSYSTEM_SCRIPT, OUTPUT_SEVERITY_WARNING, line.c_str(), static_cast<UINT>(line.size()));
}

std::string PageCallPrefix(std::wstring_view pageFile) { return text::ToUtf8(Label(pageFile)); }

void WritePageCall(std::string_view prefix, std::string_view name, std::span<const value> args) {
    std::string& line = LineOutput::Buffer();
    line.assign(prefix);
    line += name;
    line += '(';
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i != 0) line += ',';
        args[i].append_json_utf8(line);
    }
    line += ")\n";
    LineOutput::Instance().Write(line);
}

}  // namespace uie::detail

void uie::FlushPageCallLines() { uie::detail::LineOutput::Instance().FlushAtOnce(); }
