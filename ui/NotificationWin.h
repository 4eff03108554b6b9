// What the message and article windows share: a small page at the bottom-right corner
// of the screen, dragged by its caption and closed by its close button, that hands the
// values other threads queue to a page function, one at a time, on its own thread.
#pragma once

#include <mutex>
#include <string>

#include "SciterWindow.h"

class CNotificationWin : public CSciterWindow {
public:
    // The keys of a queued value: the value itself, or element 0 when it is an array (some
    // senders queue a map, others an array holding one).
    static sciter::value Keys(const sciter::value& item);

protected:
    // Hidden at start.
    CNotificationWin(const wchar_t* name, const std::wstring& page);

    // x = screen width - width - 20, y = work-area height - height.
    void PlaceWindow() override;
    // 2 (drag) over the caption, else 1.
    LRESULT OnHitTest(int x, int y) override;
    void Init() override;
    // A click on the close button runs CloseStep; every event counts as handled.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;
    // Runs on the window's thread, inside the engine's delivery of the click.
    virtual void CloseStep() = 0;

    // The page function the item names ("funcName", else `defaultFunc`), called on the
    // page with the item as it was queued. The window's thread only.
    void CallItemFunction(const sciter::value& item, const wchar_t* defaultFunc) const;
    // Shown, unless another program runs full screen and NotifyMessageFullScreen is off.
    void ShowUnlessFullScreen() const;
    // From any thread; false when the window does not exist (yet or any more).
    bool PostCommand(WORD id) const;
    // From any thread: the show command of a value just queued. The window is published
    // before it exists; a show asked for then is posted once Init is done.
    void PostShowCommand(WORD id);
    const dom::element& Root() const { return m_root; }

private:
    std::mutex m_showLock;
    bool m_bInitDone = false;
    WORD m_owedShow = 0;  // the show asked for before Init was done; 0: none

    // Bound by Init on the window's thread, read only there.
    dom::element m_root;
    dom::element m_caption;
    dom::element m_close;
};
