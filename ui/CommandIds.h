// WM_COMMAND ids that other threads post to the program's windows (in wParam), and
// the window messages of their own that the windows answer.
#pragma once

#include "WinTypes.h"

// Any window: destroys it (the base command handler).
constexpr WORD ID_CMD_DESTROY_WINDOW = 18;

// Main frame.
constexpr WORD ID_CMD_HOMEPAGE_LASTASSESS = 0x8021;
constexpr WORD ID_CMD_HOMEPAGE_USERINFO = 0x8022;
constexpr WORD ID_CMD_HOMEPAGE_REALWEATHER = 0x8023;
constexpr WORD ID_CMD_HOMEPAGE_LIFEINDEX = 0x8024;
constexpr WORD ID_CMD_HOMEPAGE_ARTICLETODAY = 0x8028;
constexpr WORD ID_CMD_ARTICLE_NEWSUMMARY = 0x8029;
constexpr WORD ID_CMD_ASSESS_RECENT = 0x802B;
constexpr WORD ID_CMD_REFRESH_ELEMENT = 0x802E;
constexpr WORD ID_CMD_PAGEINIT = 0x802F;
constexpr WORD ID_CMD_BOTTOM_USERINFO = 0x8034;
constexpr WORD ID_CMD_BOTTOM_NETSTATE = 0x8035;
constexpr WORD ID_CMD_REFRESH_ELEMENTLIST = 0x803E;
constexpr WORD ID_CMD_BAND_USERINFO = 0x8040;
constexpr WORD ID_CMD_LOAD_FLASHTREND = 0x807A;
constexpr WORD ID_CMD_BAND_ARTICLEFOCUS = 0x8098;
constexpr WORD ID_CMD_BAND_ARTICLE = 0x8099;

// Login window.
constexpr WORD ID_CMD_LOGIN_STATUS = 0x802D;

// Message and article windows.
constexpr WORD ID_CMD_MESSAGEWIN_SHOW = 0x803D;
constexpr WORD ID_CMD_UPDATE_ALERTMSG = 0x809D;

// Pop-ups of the floating bar.
constexpr WORD ID_CMD_FLOAT_REALWEATHER = 0x8066;
constexpr WORD ID_CMD_FLOAT_LIFEINDEX = 0x8067;
constexpr WORD ID_CMD_FLOAT_WEATHERFORECAST = 0x8068;
constexpr WORD ID_CMD_FLOAT_USERENV = 0x8069;
constexpr WORD ID_CMD_FLOAT_NAVARTICLE = 0x806B;

// Pedometer window.
constexpr WORD ID_CMD_PEDO_REFRESH = 0x8081;

// Window messages every page window routes.
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_MOUSEHOVER = 0x02A1;
// The app-bar callback: wParam 2 with lParam 1 when a full-screen application opens.
constexpr UINT WM_APPBAR_NOTIFY = 0x04C8;
constexpr UINT WM_TRAYICON_NOTIFY = 0x8064;
