// The socket worker: queue order, the offline limit, and the end of the program.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommFixture.h"
#include "Quorvix.h"
#include "Text.h"
#include "global.h"
#include "pedometerWin.h"
#include "userInfo.h"
#include "WaitFor.h"

namespace {

// Takes the ranking replies in place of the pedometer window.
class RankReplies : public CPedometerWin {
public:
    int BussDataProc_PedoRank(const std::wstring& reply) override {
        std::lock_guard guard(m_lock);
        m_fields.push_back(text::ToUtf8(GetValue(reply, 2, L'\x02', 260)));
        m_threads.push_back(std::this_thread::get_id());
        return 0;
    }
    std::vector<std::string> Fields() const {
        std::lock_guard guard(m_lock);
        return m_fields;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard guard(m_lock);
        return m_threads;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_fields;
    std::vector<std::thread::id> m_threads;
};

class SocketThreadTest : public CommTest {
protected:
    SocketThreadTest() { g_pPedometer = &ranks_; }
    ~SocketThreadTest() override {
        EndWorkers();
        g_pPedometer = nullptr;
    }

    RankReplies ranks_;
};

TEST_F(SocketThreadTest, OfflineQueueRefusesTheEleventhAndRunsTheRestInOrder) {
    server_.OnCommand(COMMAND_USER_LOGOUT, [](const PacketRequest&) {
        PacketReply reply;
        reply.noReply = true;
        return reply;
    });
    server_.OnCommand(COMMAND_PEDORANK_QUEST, [](const PacketRequest& r) {
        PacketReply reply = PacketReply::Fields({"0", r.fields.at(0)});
        if (r.fields.at(0) == "slow") reply.delay = std::chrono::milliseconds(300);
        return reply;
    });

    EXPECT_EQ(Exchange(COMMAND_USER_LOGOUT, "bye"), 0);
    ASSERT_FALSE(comm_->IsOnline());

    auto push = [&](int commandId, const std::string& field) {
        return Worker()->Push(Context(commandId, field + '\x02' + '\0', COMM_MODE_ASYNC));
    };
    ASSERT_EQ(push(COMMAND_PEDORANK_QUEST, "slow"), 0);
    ASSERT_TRUE(server_.WaitForRequests(2));  // the worker is in the slow exchange
    std::vector<std::string> expected{"slow"};
    for (int i = 1; i <= 10; ++i) {
        ASSERT_EQ(push(COMMAND_PEDORANK_QUEST, std::to_string(i)), 0) << i;
        expected.push_back(std::to_string(i));
    }
    CUserInfo user;
    g_pUserInfo = &user;
    user.SetUpdateState(true);
    const int inUse = ContextsInUse();
    EXPECT_EQ(push(COMMAND_USERINFO_UPLOAD, "eleventh"), -1);
    EXPECT_EQ(ContextsInUse(), inUse);  // the refused one is back in the pool
    EXPECT_FALSE(user.GetUpdateState());  // the refusal reached the failure handling
    g_pUserInfo = nullptr;

    ASSERT_TRUE(WaitFor([&] { return ranks_.Fields().size() == expected.size(); }));
    EXPECT_EQ(ranks_.Fields(), expected);
    const auto threads = ranks_.Threads();
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    const auto requests = server_.Requests();
    for (std::size_t i = 2; i < requests.size(); ++i) EXPECT_GT(requests[i].seqNo, requests[i - 1].seqNo);
    EXPECT_TRUE(comm_->IsOnline());
}

TEST_F(SocketThreadTest, SynchronousRequestsShareTheWorkersClientSafely) {
    constexpr int kEach = 30;
    std::thread queued([&] {
        for (int i = 0; i < kEach; ++i) Worker()->Push(Context(COMMAND_PEDORANK_QUEST, "async", COMM_MODE_ASYNC));
    });
    int answered = 0;
    for (int i = 0; i < kEach; ++i) answered += Exchange(COMMAND_USER_LOGOUT, "sync") > 0;
    queued.join();
    EXPECT_EQ(answered, kEach);
    EXPECT_TRUE(WaitFor([&] { return ranks_.Fields().size() == kEach; }));
    EXPECT_TRUE(comm_->IsOnline());
}

TEST_F(SocketThreadTest, WorkersEndWhenTheProgramEnds) {
    CSocketThread worker(*comm_);
    ASSERT_EQ(worker.Start(4), 0);
    EXPECT_EQ(worker.Start(5), 0);  // running already: nothing changes
    EXPECT_EQ(worker.GetIndex(), 4);

    g_nRunState = 4;  // no request comes to wake the idle workers
    EXPECT_TRUE(WaitFor([&] { return !worker.IsRunning() && !Worker()->IsRunning(); }));
    g_nRunState = 1;
    ASSERT_EQ(Worker()->Push(Context(COMMAND_PLUSECHECK, "late", COMM_MODE_ASYNC)), 0);
    EXPECT_FALSE(server_.WaitForRequests(1, std::chrono::milliseconds(200)));
}

TEST_F(SocketThreadTest, IdleWorkerIsChosenOnlyWhenFree) {
    CSocketThread* chosen = comm_->LockOneMinConnect();
    ASSERT_EQ(chosen, Worker());
    EXPECT_TRUE(chosen->IsBusy());
    EXPECT_EQ(comm_->LockOneIdleConnect(50), nullptr);
    chosen->SetBusy(false);
    EXPECT_EQ(comm_->LockOneIdleConnect(50), Worker());
}

}  // namespace
