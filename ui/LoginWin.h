// The login window: the first window shown, with the login page and the status line
// of the loading steps after login. Runs in a thread of its own.
#pragma once

#include "SciterWindow.h"

class CLoginWin : public CSciterWindow {
public:
    static constexpr DWORD kStyle = 0x90080000;    // WS_POPUP | WS_VISIBLE | WS_SYSMENU
    static constexpr DWORD kExStyle = 0x00080000;  // WS_EX_LAYERED

    CLoginWin();

    // Any thread: has the page show the communication object's status text.
    BOOL PostUpdateLoginStatus();

    // The page's close button: hides after a successful login, else ends the program.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

protected:
    LRESULT OnHitTest(int x, int y) override;
    void Init() override;
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    dom::element m_root;
    dom::element m_caption;
    dom::element m_close;
};

// Null until start-up makes the login window.
extern CLoginWin* g_pLoginWin;
