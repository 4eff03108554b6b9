// setTimeout and clearTimeout of a document's scripts: one-shot timers of the document's
// window, delivered to its owner thread as WM_TIMER with ids of the engine's own range
// (SciterProcND takes them), and dropped when the document is gone by then.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "WinTypes.h"

namespace uie::detail {

class DocumentScript;

class PageTimers {
public:
    // Timer ids the engine uses; the program's own are small numbers.
    static constexpr UINT_PTR kFirstId = 0x5C1E0000;
    static constexpr UINT_PTR kIds = 0x10000;
    // A document may have this many waiting; more is a script error. Counted per document, so
    // that one page cannot take setTimeout from the others of its thread.
    static constexpr std::size_t kMaxPending = 256;

    struct Pending {
        std::weak_ptr<DocumentScript> doc;
        std::uint64_t docId;  // the heap's number of the document
        HWND hwnd;
        std::uint32_t fnSlot;  // in the heap's stash
    };

    // On the VM's thread, as every member. 0 when no more may wait.
    UINT_PTR Add(Pending pending);
    // The timer's record, taken out; false when it is not (or no longer) there.
    bool Take(UINT_PTR id, Pending& out);
    // Records whose document is gone, taken out so that their functions can be released.
    std::map<UINT_PTR, Pending> TakeOrphans();

    static bool IsEngineTimer(UINT_PTR id) { return id >= kFirstId && id < kFirstId + kIds; }

private:
    void Forget(const Pending& pending);

    std::map<UINT_PTR, Pending> pending_;
    std::map<std::uint64_t, std::size_t> perDocument_;  // waiting, by document
    UINT_PTR next_ = 0;
};

}  // namespace uie::detail
