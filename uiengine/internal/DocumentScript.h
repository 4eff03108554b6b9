// The scripts of one document (a page or a frame): a global object of its own, whose
// prototype is the VM's global with the builtins and natives, so each document keeps its
// own names and every document sees every native. The document's scripts run in it at
// load; the program's calls of page functions look the names up in it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <duktape.h>

#include "ScriptVM.h"
#include "Value.h"
#include "WinTypes.h"

namespace uie::detail {

class ScriptHeap;

// One script element's text: inline, or the file its src names.
struct ScriptSource {
    std::wstring text;
    std::wstring file;   // what errors name: the page file, or the src
    unsigned firstLine;  // the line of `file` the text starts on
};

class DocumentScript : public std::enable_shared_from_this<DocumentScript> {
public:
    // Null when the VM's heap cannot take one more document (reported).
    static std::shared_ptr<DocumentScript> Make(HVM vm, HWND hwnd, std::wstring uri);
    DocumentScript(std::shared_ptr<ScriptHeap> heap, HWND hwnd, std::wstring uri);
    ~DocumentScript();
    DocumentScript(const DocumentScript&) = delete;
    DocumentScript& operator=(const DocumentScript&) = delete;

    // Runs each in order; one that fails to compile or throws is reported and the next runs.
    void Run(const std::vector<ScriptSource>& sources);

    enum class Outcome { Done, Missing, Failed };
    // Calls the document's function `name` (this: the document's global), writing its line
    // first (ScriptOutput.h); a missing function or a failure is reported.
    Outcome Call(const std::string& name, std::span<const value> args, value& result);

    // A timer of the document's scripts (setTimeout) is due: its function runs.
    void RunTimer(std::uint32_t fnSlot);

    void PushGlobal(duk_context* ctx) const;
    HWND hwnd() const { return hwnd_; }

private:
    bool Setup();
    // The thread the scripts run on at load, with this document's global; ReturnThread
    // after them. Null, reported, when there is none.
    duk_context* TakeThread(duk_context* ctx, std::uint32_t& ownSlot);
    void ReturnThread(duk_context* ctx, duk_context* thread, std::uint32_t ownSlot);
    void Report(std::wstring_view what, std::wstring_view error) const;

    const std::shared_ptr<ScriptHeap> heap_;
    const HWND hwnd_;
    const std::wstring uri_;
    const std::string callPrefix_;  // of its call lines (ScriptOutput.h)
    std::uint32_t global_ = 0;  // a slot of the heap
    void* globalPtr_ = nullptr;  // the global in slot global_, pushed without a lookup
};

// The window's engine timer `id` is due (SciterProcND); false for any other timer.
bool RunPageTimer(HWND hwnd, UINT_PTR id);

}  // namespace uie::detail
