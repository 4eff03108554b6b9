// The end of the built program while the server holds its goodbye: the demo's replies from
// a packet server in this process, whose logout reply trickles in for far longer than any
// user would wait.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>

#include "../core/DemoServerProcess.h"
#include "DemoData.h"
#include "DemoReplies.h"
#include "Hooks.h"
#include "LoopbackPacketServer.h"
#include "ProgramCopy.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

constexpr std::uint16_t kLogout = 0x1021;

class DemoExitTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
        std::string error;
        ASSERT_TRUE(data_.Load(QUORV_DEMO_DATA, error)) << error;
        server_.OnAnyCommand([this](const PacketRequest& request) {
            PacketReply reply = replies_.Answer(request).reply;
            if (request.commandId == kLogout) {
                reply.pieces = 100;
                reply.pieceGap = std::chrono::seconds(1);
            }
            return reply;
        });
        UseDemoAccount(program_, server_.Port());
    }

    // The program up to its main page, then one SIGTERM; the run, ending.
    std::unique_ptr<ChildProcess> RunToTheMainPageThenTerminate() {
        auto run = program_.Start({"/autoRun"});
        EXPECT_TRUE(WaitFor([&] { return Output().find("HomePageArticleToday()") != std::string::npos; },
                            ProgramCopy::kTimeout))
            << Output() << text::ToUtf8(program_.Log());
        run->Signal(SIGTERM);
        EXPECT_TRUE(WaitFor([&] { return LogoutsAsked() > logouts_; }, ProgramCopy::kTimeout));
        logouts_ = LogoutsAsked();
        return run;
    }

    int LogoutsAsked() const {
        int count = 0;
        for (const PacketRequest& request : server_.Requests()) count += request.commandId == kLogout ? 1 : 0;
        return count;
    }
    std::string Output() const { return ReadFileBytes(program_.Dir() / "program.out"); }

    DemoData data_;
    DemoReplies replies_{data_};
    LoopbackPacketServer server_;
    ProgramCopy program_{QUORV_DIST_DIR};
    int logouts_ = 0;
};

TEST_F(DemoExitTest, ATrickledLogoutHoldsTheExitAFewSecondsAndASecondSignalEndsItAtOnce) {
    auto run = RunToTheMainPageThenTerminate();
    const std::optional<int> code = run->Wait(ProgramCopy::kTimeout);
    ASSERT_TRUE(code.has_value()) << "still running after SIGTERM";
    EXPECT_EQ(*code, 0);
    EXPECT_NE(program_.Log().find(L"UserLogout_syn: no reply within 5000 ms, the exit goes on"), std::wstring::npos);

    // The lock is free again, and a second signal does not wait for the logout at all.
    run = RunToTheMainPageThenTerminate();
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(ProgramCopy::kTimeout), 128 + SIGTERM);  // not 0, after the logout's bound
    EXPECT_NE(program_.Log().find(L"signal 15 again: the program ends at once"), std::wstring::npos);
}

}  // namespace
