// The desktop shell, headless: the program's icons, the notification area, its two
// menus and its sounds. Nothing is shown or played; each is state that callers can read
// and a line on standard error. A menu is never shown: the menu hook (Hooks.h) answers
// for the user, and by default chooses nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Window.h"

struct HICON__;
using HICON = HICON__*;
using HMODULE = HINSTANCE__*;

// A resource named by its number where a name is expected.
inline const wchar_t* MAKEINTRESOURCEW(WORD id) {
    return reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(id));
}
inline bool IS_INTRESOURCE(const wchar_t* name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// ---- Icons ----
// The program's icons (resources 129, 130, 131, 132, 135 and 143) for any module; null
// with ERROR_RESOURCE_NAME_NOT_FOUND for any other name.
HICON LoadIconW(HINSTANCE instance, const wchar_t* name);
// The layer's own query: the resource number of an icon LoadIconW gave; 0 otherwise.
WORD GetIconResourceId(HICON icon);

constexpr UINT WM_GETICON = 0x007F;
constexpr UINT WM_SETICON = 0x0080;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;
// What DefWindowProcW does with WM_SETICON (keeps the icon, answers the one before)
// and WM_GETICON (answers the kept icon); 0 for other messages and dead windows.
LRESULT DefWindowIconProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- Notification area ----
constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 0x01;
constexpr UINT NIF_ICON = 0x02;
constexpr UINT NIF_TIP = 0x04;
constexpr UINT NIF_INFO = 0x10;
constexpr DWORD NIIF_NONE = 0;
constexpr DWORD NIIF_INFO = 1;

// The fields as Windows lays them out; the texts are fixed arrays, read up to their
// first NUL and never past their end.
struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    wchar_t szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    wchar_t szInfo[256];
    UINT uTimeout;
    wchar_t szInfoTitle[64];
    DWORD dwInfoFlags;
};

// An icon is named by its window and id. Adding one that is there, or changing or
// deleting one that is not, fails, as on Windows. Only the members uFlags names change.
BOOL Shell_NotifyIconW(DWORD message, const NOTIFYICONDATAW* data);

// What the notification area shows for one icon.
struct NotifyIconState {
    UINT callbackMessage = 0;
    HICON icon = nullptr;
    std::wstring tip;
    std::wstring infoTitle;  // the latest balloon
    std::wstring info;
    UINT timeout = 0;
    DWORD infoFlags = 0;
};
// The layer's own query: false when no such icon is in the notification area.
bool GetNotifyIconState(HWND hwnd, UINT id, NotifyIconState* out);

// ---- Menus ----
// Menu handles are ids, so a destroyed menu is refused rather than read.
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;

// The program's menus 109 (the tray's) and 147 (the floating bar's), for any module;
// null with ERROR_RESOURCE_NAME_NOT_FOUND for any other name. The caller owns the menu.
HMENU LoadMenuW(HINSTANCE instance, const wchar_t* name);
// The pop-up at that position; it belongs to its menu. Null when there is none.
HMENU GetSubMenu(HMENU menu, int pos);
// Destroys the menu and its pop-ups.
BOOL DestroyMenu(HMENU menu);
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPos);
// The default item's command (or position); (UINT)-1 when there is none.
UINT GetMenuDefaultItem(HMENU menu, UINT byPos, UINT flags);
// Asks the menu hook which item the user picks; a command of this menu (or of its
// pop-ups) is posted to the owner as WM_COMMAND, nothing else is. FALSE for a bad menu
// or owner.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
// The layer's own query, for menu hooks: the command of the item with this text, in the
// menu or its pop-ups; 0 when there is none.
UINT FindMenuCommand(HMENU menu, std::wstring_view text);

// ---- Sounds ----
constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_NOWAIT = 0x2000;
constexpr DWORD SND_FILENAME = 0x20000;
constexpr DWORD SND_RESOURCE = 0x40004;

// Logs the sound instead of playing it and counts it; a null sound (stop playing) is
// neither. Always TRUE.
BOOL PlaySoundW(const wchar_t* sound, HMODULE module, DWORD flags);
// The layer's own query: the sounds played since the process started.
std::uint64_t GetPlaySoundCount();
