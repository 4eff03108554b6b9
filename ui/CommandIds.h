// WM_COMMAND ids that other threads post to the program's windows (in wParam), and
// the window messages of their own that the windows answer.
#pragma once

#include "WinTypes.h"

// Any window: destroys it (the base command handler).
constexpr WORD ID_CMD_DESTROY_WINDOW = 18;

// Main frame: the tray menu's and the page's commands, then the notices other threads post.
constexpr WORD ID_CMD_EXIT = 105;  // asks whether to end the program
constexpr WORD ID_CMD_SHOW_MAINWIN = 0x8004;
constexpr WORD ID_CMD_SHOW_FLOATBAR = 0x8010;
constexpr WORD ID_CMD_UNUSED_8018 = 0x8018;
constexpr WORD ID_CMD_HELP_CENTER = 0x8019;
constexpr WORD ID_CMD_ABOUT = 0x801A;
constexpr WORD ID_CMD_UNUSED_801C = 0x801C;
constexpr WORD ID_CMD_SCRIPT_CALL = 0x8020;
constexpr WORD ID_CMD_HOMEPAGE_LASTASSESS = 0x8021;
constexpr WORD ID_CMD_HOMEPAGE_USERINFO = 0x8022;
constexpr WORD ID_CMD_HOMEPAGE_REALWEATHER = 0x8023;
constexpr WORD ID_CMD_HOMEPAGE_LIFEINDEX = 0x8024;
constexpr WORD ID_CMD_HOMEPAGE_USERENV = 0x8025;
constexpr WORD ID_CMD_HOMEPAGE_USEROPDATA = 0x8026;
constexpr WORD ID_CMD_HOMEPAGE_ALERTTODAY = 0x8027;
constexpr WORD ID_CMD_HOMEPAGE_ARTICLETODAY = 0x8028;
constexpr WORD ID_CMD_ARTICLE_NEWSUMMARY = 0x8029;
constexpr WORD ID_CMD_ASSESS_RECENT = 0x802B;
constexpr WORD ID_CMD_REFRESH_ELEMENT = 0x802E;
constexpr WORD ID_CMD_PAGEINIT = 0x802F;
constexpr WORD ID_CMD_BOTTOM_USERINFO = 0x8034;
constexpr WORD ID_CMD_BOTTOM_NETSTATE = 0x8035;
constexpr WORD ID_CMD_ASSISTANT_ALERTTODAY = 0x8038;
constexpr WORD ID_CMD_ASSISTANT_ALERTCONFIGLIST = 0x803A;
constexpr WORD ID_CMD_REFRESH_ELEMENTLIST = 0x803E;
constexpr WORD ID_MODULE_HISTLIST_DATA = 0x803F;
constexpr WORD ID_CMD_BAND_USERINFO = 0x8040;
constexpr WORD ID_CMD_ALERT_REFRESH = 0x8052;
constexpr WORD ID_CMD_BANDTIPS_FIRST = 0x805C;  // one per frame, to 0x8061
constexpr WORD ID_CMD_NAVIGATION_TIP_FIRST = 0x8071;  // one per frame, to 0x8076
constexpr WORD ID_CMD_LOAD_FLASHTREND = 0x807A;
constexpr WORD ID_CMD_MONITOR_FLASHTREND = 0x807C;
constexpr WORD ID_CMD_LOAD_APPTYPEFLASH = 0x807D;
constexpr WORD ID_CMD_USERDEVICE_ADD = 0x8080;
constexpr WORD ID_CMD_BAND_ARTICLEFOCUS = 0x8098;
constexpr WORD ID_CMD_BAND_ARTICLE = 0x8099;

// Login window.
constexpr WORD ID_CMD_LOGIN_STATUS = 0x802D;

// Message and article windows.
constexpr WORD ID_CMD_MESSAGEWIN_SHOW = 0x803D;
constexpr WORD ID_CMD_UPDATE_ALERTMSG = 0x809D;
constexpr WORD ID_CMD_ALERTMSGWIN_SHOW = 0x803B;  // alert pop-up
constexpr WORD ID_CMD_ALERTEXPIRED_SHOW = 0x803C;  // expired-alert window

// Pop-ups of the floating bar.
constexpr WORD ID_CMD_FLOAT_REALWEATHER = 0x8066;
constexpr WORD ID_CMD_FLOAT_LIFEINDEX = 0x8067;
constexpr WORD ID_CMD_FLOAT_WEATHERFORECAST = 0x8068;
constexpr WORD ID_CMD_FLOAT_USERENV = 0x8069;
constexpr WORD ID_CMD_FLOAT_NAVARTICLE = 0x806B;
constexpr WORD ID_CMD_FLOAT_USEROPINFO = 0x806E;
constexpr WORD ID_CMD_FLOAT_ALERTTODAY = 0x806F;
constexpr WORD ID_CMD_FLOAT_NAVTIP = 0x8070;  // also the floating bar's own tip
constexpr WORD ID_CMD_FLOAT_FLASHTREND = 0x807B;

// The floating bar: its menu's commands (0x8022 and 0x8023 mean other things to the
// main window) and two that nothing posts.
constexpr WORD ID_CMD_FLOATBAR_DOCK = 0x0466;  // lParam: the page window to sit under
constexpr WORD ID_CMD_FLOATBAR_CLEAR_POPUP = 0x0467;
constexpr WORD ID_CMD_FLOATBAR_SURROUND = 0x8012;
constexpr WORD ID_CMD_FLOATBAR_NAVIGATE = 0x8014;
constexpr WORD ID_CMD_FLOATBAR_NOTIFY = 0x8015;
constexpr WORD ID_CMD_FLOATBAR_APP = 0x8016;
constexpr WORD ID_CMD_FLOATBAR_NOTE = 0x8017;
constexpr WORD ID_CMD_FLOATBAR_HIDE = 0x8022;   // for now
constexpr WORD ID_CMD_FLOATBAR_CLOSE = 0x8023;  // and not again at the next start

// Pedometer window.
constexpr WORD ID_CMD_PEDO_REFRESH = 0x8081;
constexpr WORD ID_CMD_PEDO_DEVICEDATA = 0x8085;
constexpr WORD ID_CMD_PEDO_OPENSETTINGS = 0x8086;
constexpr WORD ID_CMD_PEDO_PAGEINIT = 0x8087;
constexpr WORD ID_CMD_PEDO_RANKINFO = 0x8088;

// Blood-pressure window.
constexpr WORD ID_CMD_BP_DEVDATALOAD = 0x808E;   // lParam: the source being downloaded
constexpr WORD ID_CMD_BP_REFRESH = 0x8090;       // lParam: 1 after a store
constexpr WORD ID_CMD_BP_LOADPROGRESS = 0x8091;  // the page polls instead; nothing posts it

// Window messages of the program's own that every page window routes.
// The app-bar callback: wParam 2 with lParam 1 when a full-screen application opens.
constexpr UINT WM_APPBAR_NOTIFY = 0x04C8;
constexpr UINT WM_TRAYICON_NOTIFY = 0x8064;
