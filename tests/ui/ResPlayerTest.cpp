#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "CSqliteDB.h"
#include "Config.h"
#include "GraphTestSupport.h"
#include "ProgramFolderFixture.h"
#include "ResPlayer.h"
#include "TempDir.h"
#include "UiTestSupport.h"

namespace test = uie::test;

namespace {

std::wstring W(const std::filesystem::path& p) { return text::FromUtf8(p.string()); }

CResPlayer* OpenPlayer() {
    std::lock_guard lock(ResPlayerLock());
    return g_pResPlayer;
}

class ResPlayerTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        saved_ = g_Config.m_config;
        struConfig& c = g_Config.m_config;
        c.mediaResourcePage = ScrambledPage("player-window.htm");
        std::filesystem::create_directories(dir_ / "downloaded");
        std::filesystem::create_directories(dir_ / "installed");
        c.mediaFolder1 = W(dir_ / "downloaded") + L"/";
        c.mediaFolder2 = W(dir_ / "installed") + L"/";
        test::PageHost::RegisterMethodForPage(L"/player-window.htm", L"homepage_flash_trend", "Stop",
                                              [this](const test::PageCall& call) {
                                                  visibleAtStop_ = IsWindowVisible(call.hwnd) != FALSE;
                                                  ++stops_;
                                                  return uie::value();
                                              });
    }
    void TearDown() override {
        UiTest::TearDown();
        CResPlayer::DeleteEnded();
        EXPECT_EQ(OpenPlayer(), nullptr);
        g_Config.m_config = saved_;
    }

    void Touch(const std::string& file) { std::ofstream(dir_ / file) << "x"; }
    static bool Open(const wchar_t* settings, const wchar_t* classes, const wchar_t* items) {
        return CResPlayer::Open(Json(settings), Json(classes), Json(items));
    }
    static CResPlayer* OpenReady(const wchar_t* settings = L"[{}]") {
        EXPECT_TRUE(Open(settings, L"[{}]", L"[{}]"));
        CResPlayer* const player = OpenPlayer();
        EXPECT_NE(player, nullptr);
        if (player == nullptr) return nullptr;
        EXPECT_TRUE(WaitFor([player] { return player->GetState() == CSciterWindow::kStateReady; }));
        return player;
    }
    static void ClickClose(HWND hwnd) {
        const HELEMENT close = test::Find(hwnd, "#window-close");
        ASSERT_NE(close, nullptr);
        test::RunInPage(hwnd, [close] { test::SendEvent(close, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK); });
    }
    static LRESULT HitTest(HWND hwnd, int x, int y) {
        RECT window{};
        GetWindowRect(hwnd, &window);
        const auto packed =
            static_cast<std::uint32_t>(((window.top + y) & 0xFFFF) << 16 | ((window.left + x) & 0xFFFF));
        return SendMessageW(hwnd, WM_NCHITTEST, 0, static_cast<LPARAM>(packed));
    }

    struConfig saved_;
    TempDir dir_;
    std::atomic<int> stops_{0};
    std::atomic<bool> visibleAtStop_{false};
};

// ---- the document --------------------------------------------------------------------------

TEST_F(ResPlayerTest, WithoutAStartTheFirstClassAndItemPlayAndEveryFieldHasItsDefault) {
    CResPlayer player("../graph/resPlayer/resPlayer.swf", "../graph/resPlayer/Data.xml");
    std::string xml;
    ASSERT_EQ(player.BuildPlayerXml(Json(L"[{}]"), Json(L"[{}]"), Json(L"[{}]"), xml), 0);
    EXPECT_EQ(
        xml,
        Gbk(L"<quorvix css=\"blue\" playMode=\"1\" playResourceClassNo=\"1\" playResourceItemNo=\"1\">\n"
            L"    <resourceClass resourceClassNo=\"1\" resourceClassName=\"1\" lastPlayResourceItemNo=\"1\">\n"
            L"        <resourceItem resourceItemNo=\"1\" resourceItemName=\"\" resourceItemType=\"1\" fileUrl=\"\" "
            L"imgUrl=\"\" picNum=\"0\" picFile=\"\" picDispGap=\"-1\" userRating=\"0\" "
            L"resourceItemWeight=\"-1\" resourceItemHeight=\"-1\" playLong=\"-1\" startPlayValid=\"-1\" "
            L"endPlayValid=\"-1\" />\n"
            L"    </resourceClass>\n"
            L"</quorvix>\n"));
}

TEST_F(ResPlayerTest, TheChosenClassAndItemAreCountedInTheDocumentAndLocalFilesResolve) {
    Touch("downloaded/b.png");
    Touch("installed/pic1.jpg");
    CResPlayer player("../graph/resPlayer/resPlayer.swf", "../graph/resPlayer/Data.xml");
    std::string xml;
    ASSERT_EQ(
        player.BuildPlayerXml(
            Json(LR"([{"css": "green", "playMode": "2", "mediaResourceType": 5, "mediaResourceNo": 12}])"),
            Json(LR"([{"mediaResourceType": 3, "mediaResourceTypeName": "视频", "lastMediaResourceNo": 7},
                            {"mediaResourceType": 4},
                            {"mediaResourceType": 5, "mediaResourceTypeName": "音乐", "lastMediaResourceNo": 12}])"),
            Json(LR"([{"mediaResourceType": 5, "mediaResourceNo": 11, "mediaResourceName": "晨练", "playType": "1"},
                            {"mediaResourceType": 3, "mediaResourceNo": 1, "mediaResourceName": "v", "playType": "3",
                             "fileUrl": "http://x/v.flv", "mediaResourceHeight": 240},
                            {"mediaResourceType": 9, "mediaResourceNo": 99, "mediaResourceName": "lost"},
                            {"mediaResourceType": 5, "mediaResourceNo": 12, "mediaResourceName": "b", "playType": "2",
                             "fileUrl": "HTTPS://y/b.mp3", "iconUrl": "b.png", "audioImgUrl": "pic###.jpg",
                             "audioImgNum": 5, "audioImgDispGap": 3, "userRating": 4, "playLong": 120,
                             "startPlayValid": 1, "endPlayValid": 2},
                            {"mediaResourceType": 5, "mediaResourceNo": 13, "playType": "4", "fileUrl": "gone.mp4"}])"),
            xml),
        0);
    const std::wstring downloaded = g_Config.m_config.mediaFolder1;
    const std::wstring installed = g_Config.m_config.mediaFolder2;
    // The window is not made yet: a video without a width gets 0.
    EXPECT_EQ(
        xml, Gbk(L"<quorvix css=\"green\" playMode=\"2\" playResourceClassNo=\"3\" playResourceItemNo=\"2\">\n"
                 L"    <resourceClass resourceClassNo=\"3\" resourceClassName=\"视频\" lastPlayResourceItemNo=\"7\">\n"
                 L"        <resourceItem resourceItemNo=\"1\" resourceItemName=\"v\" resourceItemType=\"2\" "
                 L"fileUrl=\"http://x/v.flv\" imgUrl=\"\" picNum=\"0\" picFile=\"\" picDispGap=\"-1\" userRating=\"0\" "
                 L"resourceItemWeight=\"0\" resourceItemHeight=\"240\" playLong=\"-1\" startPlayValid=\"-1\" "
                 L"endPlayValid=\"-1\" />\n"
                 L"    </resourceClass>\n"
                 L"    <resourceClass resourceClassNo=\"4\" resourceClassName=\"1\" lastPlayResourceItemNo=\"1\" />\n"
                 L"    <resourceClass resourceClassNo=\"5\" resourceClassName=\"音乐\" lastPlayResourceItemNo=\"12\">\n"
                 L"        <resourceItem resourceItemNo=\"11\" resourceItemName=\"晨练\" resourceItemType=\"1\" "
                 L"fileUrl=\"\" imgUrl=\"\" picNum=\"0\" picFile=\"\" picDispGap=\"-1\" userRating=\"0\" "
                 L"resourceItemWeight=\"-1\" resourceItemHeight=\"-1\" playLong=\"-1\" startPlayValid=\"-1\" "
                 L"endPlayValid=\"-1\" />\n"
                 L"        <resourceItem resourceItemNo=\"12\" resourceItemName=\"b\" resourceItemType=\"3\" "
                 L"fileUrl=\"HTTPS://y/b.mp3\" imgUrl=\"" +
                 downloaded +
                 L"b.png\" picNum=\"5\" "
                 L"picFile=\"" +
                 installed +
                 L"pic###.jpg\" picDispGap=\"3\" userRating=\"4\" "
                 L"resourceItemWeight=\"-1\" resourceItemHeight=\"-1\" playLong=\"120\" startPlayValid=\"1\" "
                 L"endPlayValid=\"2\" />\n"
                 L"        <resourceItem resourceItemNo=\"13\" resourceItemName=\"\" resourceItemType=\"4\" "
                 L"fileUrl=\"" +
                 installed +
                 L"gone.mp4\" imgUrl=\"\" picNum=\"0\" picFile=\"\" picDispGap=\"-1\" "
                 L"userRating=\"0\" resourceItemWeight=\"-1\" resourceItemHeight=\"-1\" playLong=\"-1\" "
                 L"startPlayValid=\"-1\" endPlayValid=\"-1\" />\n"
                 L"    </resourceClass>\n"
                 L"</quorvix>\n"));

    // The first picture of a series found in the first folder takes that folder.
    Touch("downloaded/pic1.jpg");
    ASSERT_EQ(player.BuildPlayerXml(Json(L"[{}]"), Json(L"[{}]"), Json(LR"([{"audioImgUrl": "pic###.jpg"}])"), xml), 0);
    EXPECT_NE(xml.find(Gbk(L"picFile=\"" + downloaded + L"pic###.jpg\"")), std::string::npos);
}

TEST_F(ResPlayerTest, AnyEmptyListLeavesTheTextUntouched) {
    CResPlayer player("../graph/resPlayer/resPlayer.swf", "../graph/resPlayer/Data.xml");
    std::string xml = "kept";
    EXPECT_EQ(player.BuildPlayerXml(Json(L"[]"), Json(L"[{}]"), Json(L"[{}]"), xml), -1);
    EXPECT_EQ(player.BuildPlayerXml(Json(L"[{}]"), Json(L"[]"), Json(L"[{}]"), xml), -1);
    EXPECT_EQ(player.BuildPlayerXml(Json(L"[{}]"), Json(L"[{}]"), Json(L"[]"), xml), -1);
    EXPECT_EQ(player.BuildPlayerXml(Json(L"[{}]"), Json(L"[{}]"), Json(L"{\"a\": {}}"), xml), -1);  // not a list
    EXPECT_EQ(xml, "kept");
}

// ---- the window ----------------------------------------------------------------------------

TEST_F(ResPlayerTest, AVideoWithoutASizeTakesTheWindowsAndTheCaptionDragsTheRoundedWindow) {
    CResPlayer* const player = OpenReady();
    ASSERT_NE(player, nullptr);
    const HWND hwnd = player->GetHwnd();
    RECT window{};
    ASSERT_TRUE(GetWindowRect(hwnd, &window));
    EXPECT_EQ(window.right - window.left, 480);  // the page's size
    std::string xml;
    ASSERT_EQ(player->BuildPlayerXml(Json(L"[{}]"), Json(L"[{}]"), Json(LR"([{"playType": "3"}])"), xml), 0);
    EXPECT_NE(xml.find("resourceItemType=\"2\""), std::string::npos);
    EXPECT_NE(xml.find("resourceItemWeight=\"480\" resourceItemHeight=\"360\""), std::string::npos);

    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 64);
    EXPECT_STREQ(title, L"健康改善引导播放器");
    EXPECT_TRUE(CResPlayer::SetOpenPlayerTitle(L"晨练"));
    GetWindowTextW(hwnd, title, 64);
    EXPECT_STREQ(title, L"晨练");
    HRGN__ region{};
    ASSERT_TRUE(GetWindowRegion(hwnd, &region));
    EXPECT_EQ(region.ellipseWidth, CResPlayer::kCornerDiameter);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & CResPlayer::kStyle, static_cast<LONG_PTR>(CResPlayer::kStyle));

    EXPECT_EQ(HitTest(hwnd, 100, 10), 2);
    EXPECT_EQ(HitTest(hwnd, 100, 100), 1);
}

// Driven as the share object's methods drive it.
TEST_F(ResPlayerTest, OpenReopenCloseAndOpenAgain) {
    EXPECT_EQ(CResPlayer::GetOpenPlayerXml(), L"");
    EXPECT_FALSE(CResPlayer::SetOpenPlayerTitle(L"x"));

    CResPlayer* const player = OpenReady(LR"([{"css": "blue"}])");
    ASSERT_NE(player, nullptr);
    const HWND hwnd = player->GetHwnd();
    const HANDLE thread = player->m_cs.hThread;
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_NE(CResPlayer::GetOpenPlayerXml().find(L"<quorvix css=\"blue\""), std::wstring::npos);

    // Open again: the same window, shown again, with the new document.
    ShowWindow(hwnd, SW_HIDE);
    ASSERT_TRUE(Open(LR"([{"css": "绿色"}])", L"[{}]", L"[{}]"));
    EXPECT_EQ(OpenPlayer(), player);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    const std::wstring replaced = CResPlayer::GetOpenPlayerXml();
    EXPECT_NE(replaced.find(L"<quorvix css=\"绿色\""), std::wstring::npos);
    // An empty list keeps that document, and the window is still shown.
    ShowWindow(hwnd, SW_HIDE);
    ASSERT_TRUE(Open(L"[{}]", L"[]", L"[{}]"));
    EXPECT_EQ(CResPlayer::GetOpenPlayerXml(), replaced);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    ClickClose(hwnd);
    EXPECT_EQ(stops_, 1);
    EXPECT_TRUE(visibleAtStop_);  // the movie stops before the window hides
    EXPECT_EQ(OpenPlayer(), nullptr);
    EXPECT_EQ(CResPlayer::GetOpenPlayerXml(), L"");
    ASSERT_TRUE(g_UiThreads.WaitThread(thread, 3000));
    EXPECT_FALSE(IsWindow(hwnd));

    CResPlayer* const next = OpenReady();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next->GetHwnd(), hwnd);
    EXPECT_NE(next->m_cs.hThread, thread);
    EXPECT_TRUE(IsWindowVisible(next->GetHwnd()));
}

TEST_F(ResPlayerTest, APlayerWhosePageFailedIsNoLongerTheOpenOne) {
    g_Config.m_config.mediaResourcePage = W(dir_ / "missing.htm");
    ASSERT_TRUE(Open(L"[{}]", L"[{}]", L"[{}]"));
    CResPlayer* const player = OpenPlayer();
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(g_UiThreads.WaitThread(player->m_cs.hThread, 3000));
    CResPlayer::DeleteEnded();
    EXPECT_EQ(OpenPlayer(), nullptr);
    EXPECT_EQ(CResPlayer::GetOpenPlayerXml(), L"");
}

// ---- the media folders of the configuration -------------------------------------------------

class ResPlayerMediaFolderTest : public ProgramFolderFixture {
protected:
    void SetLocalUrlHead(const wchar_t* value) {
        CSqliteDB db;
        db.open(W(dir_ / "Quorv10.db"));
        db.execDML(std::wstring(L"update tConfig2 set value='") + value + L"' where ID='LocalUrlHead'");
    }
    CConfig config_;
};

TEST_F(ResPlayerMediaFolderTest, EachFolderEndsWithExactlyOneSeparator) {
    const std::wstring program = W(dir_.Path());
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.m_config.mediaFolder1, program + L"/");  // no LocalUrlHead: the program folder
    EXPECT_EQ(config_.m_config.mediaFolder2, program + L"/");

    SetLocalUrlHead(L"%INSTALLDIR%/media");
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.m_config.mediaFolder1, program + L"/media/");
    SetLocalUrlHead(L"%WORKDIR%/media//");
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.m_config.mediaFolder1, program + L"/media/");
    EXPECT_EQ(config_.m_config.mediaFolder2, program + L"/");
}

}  // namespace
