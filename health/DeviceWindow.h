// What the device windows (pedometer, blood pressure) share: a page with a caption that
// drags the window and a close button that only hides it, commands posted from other
// threads, and one device-read thread at a time guarded by a busy flag.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SciterWindow.h"
#include "ThreadWait.h"

struct struHealthElementSourceTypeW;

class CDeviceWindow : public CSciterWindow {
public:
    // Joins a read still running; a derived window joins it first in its own destructor,
    // since the read uses the derived window's members.
    ~CDeviceWindow() override;

    // Whether a device read (or a request that stands for one) runs.
    bool IsReadBusy() const { return m_bReadBusy.load(); }

protected:
    // Rounds the corners, finds root, "body", "#window-caption" and "#window-close" and
    // sets the title; called by a derived Init before the base Init.
    void BindPageElements(int roundDiameter, const wchar_t* title);
    // A click on the close button hides the window; no event is consumed.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;
    // 2 (drag) over the caption, else 1.
    LRESULT OnHitTest(int x, int y) override;
    void PlaceWindow() override {}

    // Posts WM_COMMAND id with lParam; false when the window does not exist (yet).
    bool PostCommand(WORD id, LPARAM lParam) const;

    // Sets the busy flag when it was clear and runs `read` on the read thread with the
    // dictionary's own record of the source (binding a module writes into it; null when
    // there is none); the thread clears the flag as its last step. False (nothing started)
    // when a read runs or no thread could be made.
    bool StartDeviceRead(const wchar_t* function, const struHealthElementSourceTypeW* source,
                         std::function<void(struHealthElementSourceTypeW*)> read);
    // Claims the busy flag for work on the calling thread; false when a read runs.
    bool ClaimRead();
    void ReleaseRead() { m_bReadBusy = false; }
    // Waits in 10 ms sleeps until no read runs, or the program ends.
    void WaitReadEnd() const;
    void JoinDeviceRead();

    // Runs the statements in one transaction: 0 (also for none) or the database's
    // failure, logged as "<what>:ExecSQLSet[code][first statement]".
    static int StoreStatements(const wchar_t* function, const wchar_t* what,
                               const std::vector<std::wstring>& statements);

    // Found by BindPageElements; the window's thread only.
    dom::element m_root;
    dom::element m_body;
    dom::element m_caption;
    dom::element m_close;

private:
    std::atomic<bool> m_bReadBusy{false};
    std::mutex m_threadLock;
    threadwait::Thread m_readThread;
};
