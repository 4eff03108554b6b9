// Main and backup server: which one an exchange lands on.
#include <gtest/gtest.h>

#include "CommFixture.h"
#include "LogReader.h"

namespace {

class FailoverTest : public CommTest {
protected:
    FailoverTest() {
        main_.SetRefusing(true);
        comm_->SetServer(L"127.0.0.1", main_.PortText(), 1, kTimeoutMs);
        comm_->SetServerBak(L"127.0.0.1", server_.PortText(), 1, kTimeoutMs);
    }
    LoopbackPacketServer main_;
    LoopbackPacketServer& backup_ = server_;
};

TEST_F(FailoverTest, ExchangeStaysOnTheServerThatAnswered) {
    const std::wstring refused = L"StartClient fail![-2][127.0.0.1][" + main_.PortText() + L"]";
    const int refusedBefore = CountLogLines(refused);
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "a"), 0);
    EXPECT_EQ(backup_.RequestCount(), 1u);
    EXPECT_EQ(CountLogLines(refused), refusedBefore + 1);

    // The main server is back, but the backup is current now.
    main_.SetRefusing(false);
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "b"), 0);
    EXPECT_EQ(backup_.RequestCount(), 2u);
    EXPECT_EQ(main_.RequestCount(), 0u);

    backup_.SetRefusing(true);
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "c"), 0);
    EXPECT_EQ(main_.RequestCount(), 1u);
    backup_.SetRefusing(false);
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "d"), 0);
    EXPECT_EQ(main_.RequestCount(), 2u);
    EXPECT_EQ(backup_.RequestCount(), 2u);
    EXPECT_EQ(main_.Requests()[1].fields, std::vector<std::string>{"d"});
}

TEST_F(FailoverTest, BothDownFailsAndKeepsTheCurrentServer) {
    backup_.SetRefusing(true);
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "a"), -2);
    EXPECT_EQ(Worker()->GetClient()->GetCurrentPort(), std::to_string(main_.Port()));
}

TEST_F(FailoverTest, AReplyRefusedForItsLengthFailsOverToNoOtherServer) {
    main_.SetRefusing(false);
    main_.OnCommand(COMMAND_PLUSECHECK, [](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"0"});
        reply.packLen = SocketClientImpl::kLimitLen - 4 + 1;  // one byte past what the client takes
        return reply;
    });
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "a"), SocketClientImpl::kReplyRefused);
    EXPECT_EQ(backup_.RequestCount(), 0u);
    EXPECT_EQ(Worker()->GetClient()->GetCurrentPort(), std::to_string(main_.Port()));
}

TEST(FailoverSetupTest, BackupSetBeforeAnyWorkerIsLost) {
    LoopbackPacketServer main;
    LoopbackPacketServer backup;
    main.SetRefusing(true);
    CCommunication comm;
    comm.SetServerBak(L"127.0.0.1", backup.PortText(), 1, 1000);
    ASSERT_EQ(comm.SetSocketThreadCount(3), 0);
    EXPECT_EQ(comm.GetSocketThreadCount(), 1);
    comm.SetServer(L"127.0.0.1", main.PortText(), 1, 1000);
    struCommContext* context = comm.AllocateContext();
    context->nMode = COMM_MODE_SYNC;
    context->nCommandID = COMMAND_PLUSECHECK;
    context->nDataLen = 1;
    context->pSocketThread = comm.GetSocketThread(0);
    EXPECT_EQ(comm.SendAndRecv(context), -2);
    EXPECT_EQ(backup.Connections(), 0);
    comm.FreeContext(context);
}

}  // namespace
