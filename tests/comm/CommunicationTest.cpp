// Sequence numbers, the context pool, and the online state with its notices.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "CommFixture.h"
#include "LogReader.h"
#include "MainFrame.h"
#include "TempDir.h"
#include "Text.h"
#include "TrayIcon.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"
#include "userInfo.h"
#include "WaitFor.h"
#include "Window.h"

namespace {

TEST(SequenceTest, RisesByOneWithinATickAndWraps) {
    HookScope hooks;
    DWORD tick = 1000;
    Hooks().tickCount = [&] { return tick; };
    CCommunication comm;
    EXPECT_EQ(comm.GetSeqNo(), 1001u);
    EXPECT_EQ(comm.GetSeqNo(), 1002u);
    tick = 2000;
    EXPECT_EQ(comm.GetSeqNo(), 2000u);

    tick = 0xFFFFFFFF;
    CCommunication wrapped;
    tick = 5;
    EXPECT_EQ(wrapped.GetSeqNo(), 0u);
    EXPECT_EQ(wrapped.GetSeqNo(), 5u);
    EXPECT_EQ(wrapped.GetSeqNo(), 6u);
}

TEST(ContextPoolTest, KeepsAtMost101FreeAndWarnsPast500) {
    CCommunication comm;
    std::vector<struCommContext*> taken;
    for (int i = 0; i < 102; ++i) taken.push_back(comm.AllocateContext());
    taken[0]->nCommandID = 7;
    comm.FreeContext(taken[0]);
    comm.FreeContext(taken[0]);  // not in use any more: nothing happens
    EXPECT_EQ(comm.GetFreeContextCount(), 1);
    for (std::size_t i = 1; i < taken.size(); ++i) comm.FreeContext(taken[i]);
    EXPECT_EQ(comm.GetFreeContextCount(), 101);
    struCommContext* reused = comm.AllocateContext();
    EXPECT_EQ(reused->nCommandID, 0);  // handed out zeroed
    EXPECT_EQ(reused->nInUse, 1);

    const int before = CountLogLines(L"m_nMaxContexts > 500");
    taken.assign(1, reused);
    while (comm.GetMaxContexts() < 501) taken.push_back(comm.AllocateContext());
    EXPECT_EQ(CountLogLines(L"m_nMaxContexts > 500"), before + 1);
    for (struCommContext* context : taken) comm.FreeContext(context);
}

class OnlineStateTest : public CommTest {
protected:
    OnlineStateTest() {
        // The main window made on this thread, so its notices can be read here.
        std::ofstream(pages_ / "main.htm") << "<html><body></body></html>";
        frame_.m_cs.ownThread = false;
        frame_.m_cs.page = text::FromUtf8((pages_ / "main.htm").string());
        frame_.Start();
        hwnd_ = frame_.GetHwnd();
        g_pMainFrame = &frame_;
        g_pTrayIcon = &tray_;
        g_pUserInfo = &user_;
        // A worker of its own whose client finds nobody listening.
        failing_.Start(9);
        failing_.GetClient()->SetServer("127.0.0.1", std::to_string(LoopbackPacketServer::ClosedPort()));
    }
    ~OnlineStateTest() override {
        failing_.Stop();
        EndWorkers();
        g_pMainFrame = nullptr;
        g_pTrayIcon = nullptr;
        g_pUserInfo = nullptr;
    }

    int Fail() {
        struCommContext* context = Context(COMMAND_PLUSECHECK, "x");
        context->pSocketThread = &failing_;
        const int result = comm_->SendAndRecv(context);
        comm_->FreeContext(context);
        return result;
    }
    int Notices() {
        MSG msg;
        while (PeekMessageW(&msg, hwnd_, WM_COMMAND, WM_COMMAND, PM_REMOVE))
            if (LOWORD(msg.wParam) == ID_CMD_BOTTOM_NETSTATE) ++notices_;
        return notices_;
    }

    TempDir pages_;
    HWND hwnd_ = nullptr;
    int notices_ = 0;
    CMainFrame frame_;
    CTrayIcon tray_;
    CUserInfo user_;
    CSocketThread failing_{*comm_};
};

TEST_F(OnlineStateTest, FirstFailureIsSilentThenEveryThirdAndFirstSuccessNotify) {
    // Keep the worker in an exchange while three profile uploads wait behind it.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server_.OnCommand(COMMAND_PEDORANK_QUEST, [released](const PacketRequest&) {
        released.wait_for(std::chrono::seconds(3));
        PacketReply reply;
        reply.noReply = true;
        return reply;
    });
    ASSERT_EQ(Worker()->Push(Context(COMMAND_PEDORANK_QUEST, "hold", COMM_MODE_ASYNC)), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    user_.SetUpdateState(true);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Worker()->Push(Context(COMMAND_USERINFO_UPLOAD, "u", COMM_MODE_ASYNC)), 0);
    ASSERT_EQ(ContextsInUse(), 4);

    EXPECT_LT(Fail(), 1);
    EXPECT_FALSE(comm_->IsOnline());
    EXPECT_EQ(Notices(), 0);
    EXPECT_EQ(Worker()->GetQueueSize(), 0);
    EXPECT_EQ(ContextsInUse(), 1);  // only the held one
    EXPECT_FALSE(user_.GetUpdateState());
    EXPECT_EQ(user_.GetUpdateRetCode(), -1);
    EXPECT_EQ(user_.GetUpdateRetMsg(), L"修改用户信息失败。(通信故障)");

    // The held exchange now fails too: the second failure.
    release.set_value();
    ASSERT_TRUE(WaitFor([&] { return comm_->GetOnlineCount() == 1; }));
    EXPECT_EQ(server_.RequestCount(), 1u);  // the dropped uploads never went out

    Fail();
    EXPECT_EQ(Notices(), 0);
    Fail();
    EXPECT_EQ(Notices(), 1);
    EXPECT_EQ(tray_.GetShownIndex(), CTrayIcon::kOfflineIcon);
    Fail();
    Fail();
    EXPECT_EQ(Notices(), 1);
    Fail();
    EXPECT_EQ(Notices(), 2);

    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "x"), 0);
    EXPECT_TRUE(comm_->IsOnline());
    EXPECT_EQ(Notices(), 3);
    EXPECT_EQ(tray_.GetShownIndex(), CTrayIcon::kNormalIcon);
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "x"), 0);
    EXPECT_EQ(Notices(), 3);
}

}  // namespace

TEST_F(CommTest, FailedDeviceUploadsTellTheirWindowOnlyWhileItExists) {
    const auto fail = [this](int commandId, int result) {
        struCommContext* context = Context(commandId, "x");
        comm_->SendFailedProc(result, context);
        comm_->FreeContext(context);
    };
    fail(COMMAND_PEDOMETER_ORIGDATA_UPLOAD, -1);  // no window yet: nothing to mark

    CPedometerWin pedometer;
    CBloodPressureWin bloodPressure;
    pedometer.m_uploadState.Set({true, 0, L""});
    bloodPressure.m_uploadState.Set({true, 0, L""});
    g_pPedometer = &pedometer;
    g_pBloodPressure = &bloodPressure;

    fail(COMMAND_PEDOMETER_ORIGDATA_UPLOAD, 12);  // a success is no failure
    EXPECT_TRUE(pedometer.m_uploadState.Get().busy);
    fail(COMMAND_PEDOMETER_ORIGDATA_UPLOAD, 0);
    const struUploadState p = pedometer.m_uploadState.Get();
    EXPECT_FALSE(p.busy);
    EXPECT_EQ(p.retCode, -1);
    EXPECT_EQ(p.message, L"请在网络通畅的情况下，使用设备管理功能。");
    EXPECT_TRUE(bloodPressure.m_uploadState.Get().busy);  // each window only for its own command

    fail(COMMAND_BLOODPRESSURE_DATA_UPLOAD, -9);
    EXPECT_FALSE(bloodPressure.m_uploadState.Get().busy);
    EXPECT_EQ(bloodPressure.m_uploadState.Get().retCode, -1);

    g_pPedometer = nullptr;
    g_pBloodPressure = nullptr;
}
