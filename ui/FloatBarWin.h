// The floating bar: a small always-on-top row of buttons at the bottom right of the screen.
// Pointing at or clicking a button opens its pop-up next to the bar with a short sound and
// has the pop-up's page refresh itself; the bar also routes page calls aimed at the pop-ups.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "PopWin.h"
#include "SciterWindow.h"

class CFloatBarWin : public CSciterWindow {
public:
    // The five pop-ups, in the order of GetPopup.
    enum Popup { kNote, kSurround, kNavigate, kApp, kNotify, kPopupCount };
    static constexpr DWORD kHoverMs = 1000;     // until a resting mouse opens a pop-up
    static constexpr DWORD kReHoverMs = 50;     // once one is open

    // Runs in the thread that starts it (the main window's); shown at start only when
    // the user left it shown (the flag of FloatBarInfo).
    CFloatBarWin();
    ~CFloatBarWin() override;

    // How long a page call into the bar or a pop-up not made yet waits for it.
    static constexpr std::chrono::seconds kMadeWait{10};

    // Null until Init made it. Any thread.
    CPopWin* GetPopup(Popup which) const;
    // The published bar: on a thread other than the main window's, which makes it, a bar not
    // made yet is waited for within kMadeWait (serving the caller's windows meanwhile); null
    // past it, logged under `caller`.
    static CFloatBarWin* Made(const wchar_t* caller);
    CPopWin* GetCurrentPopup() const { return m_pCurrent.load(); }
    void ClearCurrentPopup() { m_pCurrent = nullptr; }

    // Shows a pop-up next to the bar (placed, with the sound and its opening refresh) and
    // hides the one shown before; or, with show false, hides `popup` or else the current
    // one. A pinned pop-up is never touched.
    void ShowPopup(CPopWin* popup, bool show);

    // A page's call of a function of the bar's page ("popWin") or of a pop-up's
    // ("popWin_surround", "popWin_navigate", "popWin_app", "popWin_notify", "popWin_note"),
    // made on the calling page's thread: the result read as a number, -1 when nothing
    // was called.
    int RemoteCall(const std::wstring& rootID, const std::wstring& funcName, int paraFlag, const std::wstring& para);

    // Another program went full screen (true) or left it: the bar hides meanwhile when
    // the settings ask for it. Any thread.
    void OnFullScreen(bool fullScreen);

    // Keeps whether the bar shows at the next start: FloatBarInfo in the user's
    // database and in the settings in memory.
    static void StoreShownFlag(bool shown);

protected:
    void Init() override;
    LRESULT OnHitTest(int x, int y) override;
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnWindowPosChanging(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnMouseHover(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnMouseLeave(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // The bar's menu at the mouse; its commands come back to OnCommand.
    LRESULT OnRButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    void CreatePopups();
    void BindButtons();
    // The pop-up of the button under a point of the bar's page; null for none.
    CPopWin* PopupAt(LPARAM clientPoint) const;
    void ShowPopupAt(LPARAM clientPoint);
    void PostOpeningRefresh(CPopWin* popup);
    void PlaySwitchSound() const;
    void TogglePopup(Popup which);
    void ToggleBar();
    void DockBelow(const CSciterWindow* window);

    std::array<std::unique_ptr<CPopWin>, kPopupCount> m_popups;
    std::array<std::atomic<CPopWin*>, kPopupCount> m_published{};  // what other threads see
    std::atomic<CPopWin*> m_pCurrent{nullptr};
    std::atomic<bool> m_bHiddenForFullScreen{false};
    std::array<dom::element, kPopupCount> m_buttons;  // window thread only
};

// Null until the main window makes it.
// Published by the main frame once the window is made; read by any thread.
extern std::atomic<CFloatBarWin*> g_pFloatBarWin;
