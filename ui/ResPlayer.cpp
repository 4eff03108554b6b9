#include "ResPlayer.h"

#include <tinyxml.h>

#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "Config.h"
#include "CxLog.h"
#include "Text.h"
#include "UiThreadManager.h"

CResPlayer* g_pResPlayer = nullptr;

namespace {

constexpr const char* kMoviePath = "../graph/resPlayer/resPlayer.swf";
constexpr const char* kDataPath = "../graph/resPlayer/Data.xml";
constexpr int kNotSet = -1;

// Every player not yet deleted: the open one and the closed ones whose thread may
// still be ending. Under ResPlayerLock().
std::vector<std::unique_ptr<CResPlayer>>& Players() {
    static std::vector<std::unique_ptr<CResPlayer>> players;
    return players;
}

// "http:" or "https:" in any case: the movie fetches it itself.
bool IsRemote(const std::wstring& ref) {
    for (const std::wstring_view scheme : {std::wstring_view(L"http:"), std::wstring_view(L"https:")}) {
        if (ref.size() < scheme.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < scheme.size() && same; ++i) {
            const wchar_t c = ref[i];
            same = (c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) == scheme[i];
        }
        if (same) return true;
    }
    return false;
}

bool FileExists(const std::wstring& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(text::ToUtf8(path)), ec);
}

// A local file is taken from the first media folder when it is there, else from the
// second, unchecked. `probe` is the name tested for, where it differs from the name.
std::wstring MediaFile(const std::wstring& ref, const std::wstring& probe) {
    if (ref.empty() || IsRemote(ref)) return ref;
    const struConfig& config = g_Config.m_config;
    return (FileExists(config.mediaFolder1 + probe) ? config.mediaFolder1 : config.mediaFolder2) + ref;
}

// A numbered picture series names its pictures with "###"; the first one is tested.
std::wstring FirstPicture(std::wstring ref) {
    constexpr std::wstring_view kNumber = L"###";
    for (auto pos = ref.find(kNumber); pos != std::wstring::npos; pos = ref.find(kNumber, pos + 1)) {
        ref.replace(pos, kNumber.size(), L"1");
    }
    return ref;
}

// The page's play types 2 and 3 are the movie's 3 and 2.
std::wstring MoviePlayType(const std::wstring& playType) {
    if (playType == L"2") return L"3";
    if (playType == L"3") return L"2";
    return playType;
}

}  // namespace

std::mutex& ResPlayerLock() {
    static std::mutex lock;
    return lock;
}

CResPlayer::CResPlayer(const char*, const char*) {
    m_cs.ownThread = true;
    m_cs.name = L"ResPlayerWin";
    m_cs.page = g_Config.m_config.mediaResourcePage;
    m_cs.style = kStyle;
    m_cs.exStyle = 0;
}

// ---- life ----------------------------------------------------------------------------

bool CResPlayer::Open(const uie::value& settings, const uie::value& classes, const uie::value& items) {
    std::lock_guard lock(ResPlayerLock());
    CResPlayer* const player = OpenLocked();
    if (player == nullptr) {
        LOGF(LOG_ERROR, L"_OpenResPlayer", L"g_pResPlayer == NULL!!!");
        return false;
    }
    std::string xml;
    if (player->BuildPlayerXml(settings, classes, items, xml) == 0) player->SetPlayerXml(text::FromAnsi(xml));
    ShowWindow(player->GetHwnd(), SW_SHOW);  // a window not yet made shows once its page is loaded
    return true;
}

std::wstring CResPlayer::GetOpenPlayerXml() {
    std::lock_guard lock(ResPlayerLock());
    return g_pResPlayer != nullptr ? g_pResPlayer->GetPlayerXml() : std::wstring();
}

bool CResPlayer::SetOpenPlayerTitle(const wchar_t* title) {
    std::lock_guard lock(ResPlayerLock());
    if (g_pResPlayer == nullptr) return false;
    g_pResPlayer->SetTitle(title);
    return true;
}

void CResPlayer::DeleteEnded() {
    std::lock_guard lock(ResPlayerLock());
    DeleteEndedLocked();
}

CResPlayer* CResPlayer::OpenLocked() {
    DeleteEndedLocked();
    if (g_pResPlayer != nullptr) return g_pResPlayer;
    std::unique_ptr<CResPlayer> made(new (std::nothrow) CResPlayer(kMoviePath, kDataPath));
    if (!made) return nullptr;
    made->m_cs.showOnCreate = true;
    // Owned before its thread starts, so it is never deleted under a running thread.
    auto& players = Players();
    players.push_back(std::move(made));
    CResPlayer* const player = players.back().get();
    if (player->Start() != 0) {
        players.pop_back();
        return nullptr;
    }
    g_pResPlayer = player;
    return player;
}

void CResPlayer::DeleteEndedLocked() {
    std::erase_if(Players(), [](const std::unique_ptr<CResPlayer>& player) {
        // A player whose window is gone can show nothing more: it is no longer the open one.
        const HWND hwnd = player->GetHwnd();
        const bool windowGone = hwnd != nullptr && !IsWindow(hwnd);
        const bool ended = g_UiThreads.WaitThread(player->m_cs.hThread, 0);
        if (g_pResPlayer == player.get() && (windowGone || ended)) g_pResPlayer = nullptr;
        return ended;
    });
}

void CResPlayer::Init() {
    SetRoundRegion(kCornerDiameter);
    m_rootElement = dom::element(GetRootElement());
    if (m_rootElement.is_valid()) {
        m_captionElement = m_rootElement.find_first("#window-caption");
        m_closeElement = m_rootElement.find_first("#window-close");
        m_movieElement = m_rootElement.find_first("#homepage_flash_trend");
    }
    CSciterWindow::Init();
    SetTitle(L"健康改善引导播放器");
}

bool CResPlayer::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type != (BUTTON_CLICK | SINKING) || !m_closeElement.is_valid() ||
        target != static_cast<HELEMENT>(m_closeElement)) {
        return false;
    }
    Close();
    return true;
}

void CResPlayer::Close() {
    StopMovie();
    const HWND hwnd = GetHwnd();
    ShowWindow(hwnd, SW_HIDE);
    {
        std::lock_guard lock(ResPlayerLock());
        if (g_pResPlayer == this) g_pResPlayer = nullptr;
    }
    // Destroyed from the message loop, not inside the engine's dispatch of this click;
    // the thread then ends, and DeleteEnded deletes the object after it.
    PostMessageW(hwnd, WM_COMMAND, ID_CMD_DESTROY_WINDOW, 0);
}

void CResPlayer::StopMovie() {
    if (!m_movieElement.is_valid()) return;
    sciter::value result;
    const BOOL called = SciterCallScriptingMethod(m_movieElement, "Stop", nullptr, 0, &result);
    if (!called) LOGF(LOG_ERROR, L"CResPlayer::StopMovie", L"call_method[%s]", L"Stop");
}

LRESULT CResPlayer::OnHitTest(int x, int y) { return CaptionHitTest(m_captionElement, x, y); }

// ---- document ----------------------------------------------------------------------------

void CResPlayer::SetPlayerXml(std::wstring xml) {
    std::lock_guard lock(m_xmlLock);
    m_playerXml = std::move(xml);
}

std::wstring CResPlayer::GetPlayerXml() const {
    std::lock_guard lock(m_xmlLock);
    return m_playerXml;
}

int CResPlayer::BuildPlayerXml(const uie::value& settings, const uie::value& classes, const uie::value& items,
                               std::string& xmlOut) {
    if (ItemCount(settings) == 0 || ItemCount(classes) == 0 || ItemCount(items) == 0) return -1;
    std::lock_guard lock(WriteLock());
    const uie::value setting = Item(settings, 0);
    const int wantedType = FieldInt(setting, L"mediaResourceType", kNotSet);
    const int wantedNo = FieldInt(setting, L"mediaResourceNo", kNotSet);
    TiXmlElement root("quorvix");
    SetAttributes(root, {{"css", Ansi(FieldText(setting, L"css", L"blue")).c_str()},
                         {"playMode", Ansi(FieldText(setting, L"playMode", L"1")).c_str()}});
    if (wantedType == kNotSet) SetAttributes(root, {{"playResourceClassNo", "1"}});
    if (wantedNo == kNotSet) SetAttributes(root, {{"playResourceItemNo", "1"}});

    // Until its page is loaded the window is still being made and sized on its own
    // thread: its size counts as 0 until then.
    RECT window{};
    if (GetState() == kStateReady) GetWindowRect(GetHwnd(), &window);
    bool classChosen = false;
    bool itemChosen = false;
    for (std::size_t k = 0; k < ItemCount(classes); ++k) {
        const uie::value resourceClass = Item(classes, k);
        const int type = FieldInt(resourceClass, L"mediaResourceType", 1);
        TiXmlElement classElement("resourceClass");
        SetAttributes(classElement, {{"resourceClassNo", FormatInt(type).c_str()}});
        if (!classChosen && wantedType == type) {
            SetAttributes(root, {{"playResourceClassNo", FormatInt(static_cast<int>(k + 1)).c_str()}});
            classChosen = true;
        }
        SetAttributes(
            classElement,
            {{"resourceClassName", Ansi(FieldText(resourceClass, L"mediaResourceTypeName", L"1")).c_str()},
             {"lastPlayResourceItemNo", FormatInt(FieldInt(resourceClass, L"lastMediaResourceNo", 1)).c_str()}});
        int n = 0;
        for (std::size_t i = 0; i < ItemCount(items); ++i) {
            const uie::value item = Item(items, i);
            if (FieldInt(item, L"mediaResourceType", 1) != type) continue;
            ++n;
            const int itemNo = FieldInt(item, L"mediaResourceNo", 1);
            if (!itemChosen && wantedType == type && wantedNo == itemNo) {
                SetAttributes(root, {{"playResourceItemNo", FormatInt(n).c_str()}});
                itemChosen = true;
            }
            classElement.InsertEndChild(
                ItemElement(item, itemNo, window.right - window.left, window.bottom - window.top));
        }
        root.InsertEndChild(classElement);
    }
    xmlOut = Print(root);
    return 0;
}

TiXmlElement CResPlayer::ItemElement(const uie::value& item, int itemNo, int windowWidth, int windowHeight) {
    const std::wstring type = MoviePlayType(FieldText(item, L"playType", L"1"));
    const bool sized = type == L"2";  // a video takes the window's size unless given one
    int width = FieldInt(item, L"mediaResourceWidth", kNotSet);
    int height = FieldInt(item, L"mediaResourceHeight", kNotSet);
    if (sized && width == kNotSet) width = windowWidth;
    if (sized && height == kNotSet) height = windowHeight;
    const std::wstring file = FieldText(item, L"fileUrl");
    const std::wstring icon = FieldText(item, L"iconUrl");
    const std::wstring pictures = FieldText(item, L"audioImgUrl");

    TiXmlElement element("resourceItem");
    SetAttributes(element, {{"resourceItemNo", FormatInt(itemNo).c_str()},
                            {"resourceItemName", Ansi(FieldText(item, L"mediaResourceName")).c_str()},
                            {"resourceItemType", Ansi(type).c_str()},
                            {"fileUrl", Ansi(MediaFile(file, file)).c_str()},
                            {"imgUrl", Ansi(MediaFile(icon, icon)).c_str()},
                            {"picNum", FormatInt(FieldInt(item, L"audioImgNum", 0)).c_str()},
                            {"picFile", Ansi(MediaFile(pictures, FirstPicture(pictures))).c_str()},
                            {"picDispGap", FormatInt(FieldInt(item, L"audioImgDispGap", kNotSet)).c_str()},
                            {"userRating", FormatInt(FieldInt(item, L"userRating", 0)).c_str()},
                            {"resourceItemWeight", FormatInt(width).c_str()},
                            {"resourceItemHeight", FormatInt(height).c_str()},
                            {"playLong", FormatInt(FieldInt(item, L"playLong", kNotSet)).c_str()},
                            {"startPlayValid", FormatInt(FieldInt(item, L"startPlayValid", kNotSet)).c_str()},
                            {"endPlayValid", FormatInt(FieldInt(item, L"endPlayValid", kNotSet)).c_str()}});
    return element;
}
