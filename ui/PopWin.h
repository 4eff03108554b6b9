// A pop-up of the floating bar: a small page window the bar opens next to itself. It
// hides itself once the mouse has left it and the bar, unless the user pinned it; other
// threads have its page refreshed through the post wrappers.
#pragma once

#include <atomic>
#include <string>

#include "SciterWindow.h"

class CFloatBarWin;

class CPopWin : public CSciterWindow {
public:
    static constexpr int kPinFree = 0;
    static constexpr int kPinBottom = 1;   // stays open, below every other window
    static constexpr int kPinTopmost = 2;  // stays open, above the others
    static constexpr int kCornerDiameter = 18;
    static constexpr int kBarGap = 4;   // between the bar and the pop-up
    static constexpr int kMargin = 2;   // kept free at the edges of the work area

    // The bar, which may be null, is the window the pop-up opens against and whose
    // current pop-up it hides. The pop-up starts hidden.
    CPopWin(std::wstring name, std::wstring page, bool ownThread, CFloatBarWin* bar);

    // Above the bar when there is room for it, else below; left edges aligned.
    void Place();
    void SetPinState(int state) { m_nPinState = state; }
    int GetPinState() const { return m_nPinState.load(); }

    // Any thread: each has the page function of its command run on the pop-up's thread.
    void PostFloatUserEnvRealWeather();
    void PostFloatUserEnvLifeIndex();
    void PostFloatUserEnvWeatherForecast();
    void PostFloatUserEnvUserEnv();
    void PostFloatNavigationArticle();
    void PostFloatUserOpInfo();
    void PostFloatAlertTodayAlertInfo();
    void PostShowNavigationTip();
    // Only while the chart player is installed.
    void PostFloatLoadFlashTrend();

    // Keeps a window about to move inside the work area, kMargin pixels from its edges;
    // the right and bottom edges first, so one too large for it stays at the left and top.
    static void KeepInWorkArea(WINDOWPOS* pos);
    static bool IsCursorOver(HWND hwnd);

    // The page's pin menu ("lock", "mosttop", "cancellock") and its dismissed pop-ups.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

protected:
    // 2 (drag) over the caption, else 1.
    LRESULT OnHitTest(int x, int y) override;
    void Init() override;
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // The hide timer: once the mouse is over neither this pop-up nor the bar, the bar
    // hides it.
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnWindowPosChanging(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    void PostCommand(WORD id);
    void Pin(HWND insertAfter, int state);
    void Unpin();
    void StopHideTimer();

    CFloatBarWin* const m_pBar;
    const DWORD m_savedExStyle;  // restored when the user unpins the pop-up
    std::atomic<int> m_nPinState{kPinFree};
    bool m_bHover = false;  // the hide timer runs; window thread only

    // Bound at Init, used on the window's thread only.
    dom::element m_root;
    dom::element m_caption;
    dom::element m_lock;
    dom::element m_cancelLock;
    dom::element m_mostTop;
};
