// The scripts of one document (a page or a frame): a global object of its own, whose
// prototype is the VM's global with the builtins and natives, so each document keeps its
// own names and every document sees every native. The document's code runs on a script
// thread whose global is the document's, so that its global is also `this` in a plain call
// and `globalThis`, at load as in every call native code makes (a page function, a timer,
// a function value). The program's calls of page functions reach only functions its
// scripts made, never a builtin (eval, Function) or a native the document inherits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <duktape.h>

#include "ScriptVM.h"
#include "Value.h"
#include "WinTypes.h"
#include "internal/ScriptHeap.h"

namespace uie::detail {

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
    // Calls the document's script function `name` (this: the document's global), writing
    // its line first (ScriptOutput.h); a missing function or a failure is reported.
    Outcome Call(const std::string& name, std::span<const value> args, value& result);

    // A timer of the document's scripts (setTimeout) is due: its function runs.
    void RunTimer(std::uint32_t fnSlot);
    // Calls a function of the document's scripts kept in a slot, as a plain call.
    bool CallFunction(std::uint32_t fnSlot, std::span<const value> args, value& result, std::wstring& error);

    // The document whose global the script thread `ctx` runs with: its id, 0 for none. May
    // throw (call in a protected call). A document's code runs only on threads with its own
    // global, so this is also the document of the code calling.
    static std::uint64_t IdOf(duk_context* ctx);
    // setTimeout and clearTimeout, onto the object on top: made once, on the root global,
    // as they find their document by the thread calling them. May throw.
    static void PutTimerFunctions(duk_context* ctx);
    HWND hwnd() const { return hwnd_; }
    std::wstring_view page() const { return page_; }

private:
    class Lease;
    bool Setup();
    void Report(std::wstring_view what, std::wstring_view error) const;

    const std::shared_ptr<ScriptHeap> heap_;
    const HWND hwnd_;
    const std::wstring uri_;
    const std::wstring_view page_;  // the page file of uri_, as reports name it
    const std::string callPrefix_;  // of its call lines (ScriptOutput.h)
    std::uint32_t global_ = 0;  // slots of the heap
    std::uint32_t threadSlot_ = 0;
    void* globalPtr_ = nullptr;  // the global in slot global_, pushed without a lookup
    duk_context* thread_ = nullptr;  // the script thread in threadSlot_, with the global
    unsigned threadRuns_ = 0;  // runs on thread_ that native code started
};

// The window's engine timer `id` is due (SciterProcND); false for any other timer.
bool RunPageTimer(HWND hwnd, UINT_PTR id);

}  // namespace uie::detail
