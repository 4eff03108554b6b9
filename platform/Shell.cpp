#include "Shell.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <map>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "Hooks.h"
#include "Text.h"

// An icon is one entry of the program's icon table.
struct HICON__ {
    WORD id;
};

namespace {

// ---- the program's resources ------------------------------------------------------

HICON__ g_icons[] = {{129}, {130}, {131}, {132}, {135}, {143}};

struct ItemDef {
    UINT id;  // 0 with no text: a separator
    const wchar_t* text;
};
constexpr ItemDef kSeparator{0, nullptr};

struct PopupDef {
    const wchar_t* title;
    std::span<const ItemDef> items;
};

struct MenuDef {
    WORD id;
    std::span<const PopupDef> popups;
};

constexpr ItemDef kTrayFile[] = {
    {0x8004, L"Quorvix主窗体"}, kSeparator, {0x8010, L"显示快捷功能悬浮窗"}, kSeparator,
    {0x8019, L"Quorvix帮助中心"}, {0x801A, L"关于"}, kSeparator, {0x0069, L"退出(&X)"},
};
constexpr ItemDef kTrayHelp[] = {{0x0068, L"关于(&A) ..."}};
constexpr PopupDef kTrayMenu[] = {{L"文件(&F)", kTrayFile}, {L"帮助(&H)", kTrayHelp}};

constexpr ItemDef kFloatBarItems[] = {
    {0x8022, L"暂时隐藏悬浮窗"}, {0x8023, L"不再显示悬浮窗"}, kSeparator,
    {0x8012, L"天气资讯"},       {0x8014, L"资讯导航"},       {0x8015, L"今日提醒"},
    {0x8016, L"电脑使用"},       {0x8017, L"Quorv笔记"},
};
constexpr PopupDef kFloatBarMenu[] = {{L"悬浮窗", kFloatBarItems}};

constexpr MenuDef kMenus[] = {{109, kTrayMenu}, {147, kFloatBarMenu}};

WORD ResourceId(const wchar_t* name) {
    return IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name)) : 0;
}

// A text of a fixed array, up to its first NUL and never past its end.
template <std::size_t N>
std::wstring Bounded(const wchar_t (&text)[N]) {
    return std::wstring(text, wcsnlen(text, N - 1));
}

void Log(const std::wstring& line) {
    std::fprintf(stderr, "%s\n", text::ToUtf8(line).c_str());
}

// ---- state -------------------------------------------------------------------------------

struct MenuItem {
    UINT id = 0;
    std::wstring text;
    std::uintptr_t popup = 0;  // the pop-up's menu id, 0 for a command or separator
};

struct Menu {
    std::vector<MenuItem> items;
    UINT defaultCommand = static_cast<UINT>(-1);
};

struct Shell {
    std::mutex mutex;
    std::map<std::pair<std::uintptr_t, UINT>, NotifyIconState> icons;  // by window and id
    std::map<std::uintptr_t, std::array<HICON, 2>> windowIcons;        // small, big
    std::map<std::uintptr_t, Menu> menus;
    std::uintptr_t lastMenu = 0x20000;
};

Shell& S() {
    static Shell shell;
    return shell;
}

std::atomic<std::uint64_t> g_soundCount{0};

std::uintptr_t MenuKey(HMENU menu) { return reinterpret_cast<std::uintptr_t>(menu); }
HMENU MenuHandle(std::uintptr_t key) { return reinterpret_cast<HMENU>(key); }

Menu* FindMenu(Shell& s, HMENU menu) {
    auto it = s.menus.find(MenuKey(menu));
    return it == s.menus.end() ? nullptr : &it->second;
}

std::uintptr_t MakePopup(Shell& s, const PopupDef& def) {
    Menu menu;
    for (const ItemDef& item : def.items) menu.items.push_back({item.id, item.text != nullptr ? item.text : L"", 0});
    const std::uintptr_t key = ++s.lastMenu;
    s.menus.emplace(key, std::move(menu));
    return key;
}

void EraseMenu(Shell& s, std::uintptr_t key) {
    auto it = s.menus.find(key);
    if (it == s.menus.end()) return;
    const std::vector<MenuItem> items = std::move(it->second.items);
    s.menus.erase(it);
    for (const MenuItem& item : items) {
        if (item.popup != 0) EraseMenu(s, item.popup);
    }
}

// The command item with this id or text in the menu or its pop-ups.
const MenuItem* FindCommand(Shell& s, std::uintptr_t key, UINT id, std::wstring_view text) {
    auto it = s.menus.find(key);
    if (it == s.menus.end()) return nullptr;
    for (const MenuItem& item : it->second.items) {
        if (item.popup != 0) {
            if (const MenuItem* found = FindCommand(s, item.popup, id, text)) return found;
        } else if (item.id != 0 && (item.id == id || (!text.empty() && item.text == text))) {
            return &item;
        }
    }
    return nullptr;
}

void Apply(NotifyIconState& icon, const NOTIFYICONDATAW& data) {
    if (data.uFlags & NIF_MESSAGE) icon.callbackMessage = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) icon.icon = data.hIcon;
    if (data.uFlags & NIF_TIP) icon.tip = Bounded(data.szTip);
    if (data.uFlags & NIF_INFO) {
        icon.info = Bounded(data.szInfo);
        icon.infoTitle = Bounded(data.szInfoTitle);
        icon.timeout = data.uTimeout;
        icon.infoFlags = data.dwInfoFlags;
    }
}

}  // namespace

// ---- icons ----------------------------------------------------------------------------------

HICON LoadIconW(HINSTANCE, const wchar_t* name) {
    const WORD id = ResourceId(name);
    for (HICON__& icon : g_icons) {
        if (id != 0 && icon.id == id) return &icon;
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

WORD GetIconResourceId(HICON icon) {
    for (const HICON__& known : g_icons) {
        if (icon == &known) return known.id;
    }
    return 0;
}

LRESULT DefWindowIconProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if ((msg != WM_SETICON && msg != WM_GETICON) || !IsWindow(hwnd)) return 0;
    const std::size_t which = wParam == ICON_BIG ? 1 : 0;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    HICON& kept = s.windowIcons[reinterpret_cast<std::uintptr_t>(hwnd)][which];
    const HICON before = kept;
    if (msg == WM_SETICON) kept = reinterpret_cast<HICON>(lParam);
    return reinterpret_cast<LRESULT>(before);
}

// ---- notification area ------------------------------------------------------------------

BOOL Shell_NotifyIconW(DWORD message, const NOTIFYICONDATAW* data) {
    if (data == nullptr) return FALSE;
    const auto key = std::make_pair(reinterpret_cast<std::uintptr_t>(data->hWnd), data->uID);
    NotifyIconState shown;
    {
        auto& s = S();
        std::lock_guard lock(s.mutex);
        auto it = s.icons.find(key);
        switch (message) {
        case NIM_ADD:
            if (it != s.icons.end()) return FALSE;
            it = s.icons.emplace(key, NotifyIconState{}).first;
            break;
        case NIM_MODIFY:
            if (it == s.icons.end()) return FALSE;
            break;
        case NIM_DELETE:
            if (it == s.icons.end()) return FALSE;
            s.icons.erase(it);
            Log(L"[tray] icon removed");
            return TRUE;
        default:
            return FALSE;
        }
        Apply(it->second, *data);
        shown = it->second;
    }
    // Blinking changes the icon twice a second: only what a user would read is logged.
    if (message == NIM_ADD) Log(L"[tray] icon added: " + shown.tip);
    if (data->uFlags & NIF_INFO) Log(L"[tray] balloon " + shown.infoTitle + L": " + shown.info);
    return TRUE;
}

bool GetNotifyIconState(HWND hwnd, UINT id, NotifyIconState* out) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    auto it = s.icons.find({reinterpret_cast<std::uintptr_t>(hwnd), id});
    if (it == s.icons.end()) return false;
    if (out != nullptr) *out = it->second;
    return true;
}

// ---- menus ----------------------------------------------------------------------------------

HMENU LoadMenuW(HINSTANCE, const wchar_t* name) {
    const WORD id = ResourceId(name);
    for (const MenuDef& def : kMenus) {
        if (id == 0 || def.id != id) continue;
        auto& s = S();
        std::lock_guard lock(s.mutex);
        Menu bar;
        for (const PopupDef& popup : def.popups) bar.items.push_back({0, popup.title, MakePopup(s, popup)});
        const std::uintptr_t key = ++s.lastMenu;
        s.menus.emplace(key, std::move(bar));
        return MenuHandle(key);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HMENU GetSubMenu(HMENU menu, int pos) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    const Menu* m = FindMenu(s, menu);
    if (m == nullptr || pos < 0 || static_cast<std::size_t>(pos) >= m->items.size()) return nullptr;
    return MenuHandle(m->items[static_cast<std::size_t>(pos)].popup);
}

BOOL DestroyMenu(HMENU menu) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    if (FindMenu(s, menu) == nullptr) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    EraseMenu(s, MenuKey(menu));
    return TRUE;
}

BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPos) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    Menu* m = FindMenu(s, menu);
    if (m == nullptr) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    if (item == static_cast<UINT>(-1)) {
        m->defaultCommand = item;
        return TRUE;
    }
    if (byPos) {
        if (item >= m->items.size()) return FALSE;
        m->defaultCommand = m->items[item].id;
        return TRUE;
    }
    for (const MenuItem& i : m->items) {
        if (i.popup == 0 && i.id != 0 && i.id == item) {
            m->defaultCommand = item;
            return TRUE;
        }
    }
    return FALSE;
}

UINT GetMenuDefaultItem(HMENU menu, UINT byPos, UINT) {
    constexpr UINT kNone = static_cast<UINT>(-1);
    auto& s = S();
    std::lock_guard lock(s.mutex);
    const Menu* m = FindMenu(s, menu);
    if (m == nullptr || m->defaultCommand == kNone) return kNone;
    if (!byPos) return m->defaultCommand;
    for (std::size_t i = 0; i < m->items.size(); ++i) {
        if (m->items[i].popup == 0 && m->items[i].id == m->defaultCommand) return static_cast<UINT>(i);
    }
    return kNone;
}

UINT FindMenuCommand(HMENU menu, std::wstring_view text) {
    if (text.empty()) return 0;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    const MenuItem* item = FindCommand(s, MenuKey(menu), 0, text);
    return item != nullptr ? item->id : 0;
}

BOOL TrackPopupMenu(HMENU menu, UINT, int x, int y, int, HWND owner, const RECT*) {
    {
        auto& s = S();
        std::lock_guard lock(s.mutex);
        if (FindMenu(s, menu) == nullptr) {
            SetLastError(ERROR_INVALID_MENU_HANDLE);
            return FALSE;
        }
    }
    if (!IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The hook may read the menu, so no lock is held while it answers.
    const auto& pick = Hooks().trackPopupMenu;
    const UINT chosen = pick ? pick(owner, menu) : 0;
    bool known = false;
    if (chosen != 0) {
        auto& s = S();
        std::lock_guard lock(s.mutex);
        known = FindCommand(s, MenuKey(menu), chosen, {}) != nullptr;
    }
    Log(L"[menu] at (" + std::to_wstring(x) + L"," + std::to_wstring(y) + L"): " +
        (known ? L"chose " + std::to_wstring(chosen) : chosen != 0 ? L"unknown choice ignored" : L"no item chosen"));
    if (known) PostMessageW(owner, WM_COMMAND, chosen, 0);
    return TRUE;
}

// ---- sounds ------------------------------------------------------------------------------------

BOOL PlaySoundW(const wchar_t* sound, HMODULE, DWORD) {
    if (sound == nullptr) return TRUE;  // stops what plays: nothing does
    // A number is never read as a name, whatever the flags say.
    const bool resource = IS_INTRESOURCE(sound);
    ++g_soundCount;
    Log(resource ? L"[sound] resource " + std::to_wstring(ResourceId(sound)) : L"[sound] " + std::wstring(sound));
    return TRUE;
}

std::uint64_t GetPlaySoundCount() { return g_soundCount.load(); }
