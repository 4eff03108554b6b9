// The media guide player: a small pop-up window whose page embeds the outside player
// movie, and the document that tells the movie what to play. At most one player is
// open (g_pResPlayer); it runs a window thread of its own. Pages reach it through the
// share object, whose methods call the statics below.
#pragma once

#include <mutex>
#include <string>

#include "GraphFlash.h"
#include "SciterWindow.h"

class CResPlayer : public CGraphFlash, public CSciterWindow {
public:
    static constexpr DWORD kStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX;
    static constexpr int kCornerDiameter = 6;

    // The movie and data paths of the opener; the player keeps neither.
    CResPlayer(const char* moviePath, const char* dataPath);

    // share.OpenResPlayer: makes and starts the player when none is open (false, logged,
    // when it cannot be made), builds its document from the three lists (an empty one
    // keeps the document it had) and shows the window.
    static bool Open(const uie::value& settings, const uie::value& classes, const uie::value& items);
    // share.GetResPlayerXMLData: the open player's document; empty when none is open.
    static std::wstring GetOpenPlayerXml();
    // share.SetResPlayerTitle: false when no player is open.
    static bool SetOpenPlayerTitle(const wchar_t* title);
    // Deletes every player whose thread has ended: the closed ones, and the open one
    // when its thread ended without a close (run state 4, or its page failed). An open
    // player whose window is gone stops being the open one.
    static void DeleteEnded();

    // The window's Init (the chart's Init too): round corners, the page's elements, the
    // title. Runs on the player's thread once the page has loaded.
    void Init() override;

    // The document from the page's settings, classes and items, as 8-bit text in the
    // system code page; -1 with xmlOut untouched when any list is empty, else 0.
    int BuildPlayerXml(const uie::value& settings, const uie::value& classes, const uie::value& items,
                       std::string& xmlOut);
    // Written on the opener's thread, read on the player's.
    void SetPlayerXml(std::wstring xml);
    std::wstring GetPlayerXml() const;

    // A click on the close element closes the player.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

protected:
    // The caption element drags the window; everything else is client area.
    LRESULT OnHitTest(int x, int y) override;

private:
    // The open player, made and started when there is none; null when it cannot be
    // made. The caller holds ResPlayerLock().
    static CResPlayer* OpenLocked();
    static void DeleteEndedLocked();
    // The movie stops, the window hides and is destroyed from its message loop, and the
    // player is no longer the open one; its thread then ends.
    void Close();
    void StopMovie();
    // One resourceItem; a size of -1 of a type "2" item takes the window's.
    static TiXmlElement ItemElement(const uie::value& item, int itemNo, int windowWidth, int windowHeight);

    mutable std::mutex m_xmlLock;
    std::wstring m_playerXml;
    dom::element m_rootElement;
    dom::element m_captionElement;
    dom::element m_closeElement;
    dom::element m_movieElement;
};

// The open player, or null. Read and written only under ResPlayerLock(), which the
// statics above take.
extern CResPlayer* g_pResPlayer;
std::mutex& ResPlayerLock();
