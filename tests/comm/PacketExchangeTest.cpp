// One exchange end to end: the request on the wire and the checks on the reply.
#include <gtest/gtest.h>

#include "CommFixture.h"
#include "LogReader.h"
#include "Text.h"

namespace {

std::string Le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

using PacketExchangeTest = CommTest;

TEST_F(PacketExchangeTest, RequestBytesOnTheWire) {
    ASSERT_GT(Exchange(COMMAND_PEDORANK_QUEST, std::string("5\x02", 3)), 0);
    ASSERT_EQ(server_.RequestCount(), 1u);
    const std::string expected = std::string("\x0A\0\0\0\x80\x11", 6) + Le32(tick_ + 1) + "1\xCA\xFD\xFF";
    EXPECT_EQ(server_.Requests()[0].raw, expected);
    EXPECT_EQ(server_.Requests()[0].fields, std::vector<std::string>{"5"});

    const std::string largest(4096, 'x');
    ASSERT_GT(Exchange(COMMAND_USERINFO_UPLOAD, largest), 0);
    EXPECT_EQ(server_.Requests()[1].raw.size(), 4107u);
    EXPECT_EQ(server_.Requests()[1].payload, largest);

    const int connections = server_.Connections();
    EXPECT_EQ(Exchange(COMMAND_USERINFO_UPLOAD, std::string(4097, 'x')), -1);
    EXPECT_GT(Exchange(COMMAND_PEDORANK_QUEST, std::string("6\x02", 3)), 0);
    EXPECT_EQ(server_.Connections(), connections + 1);  // only the last one connected
    EXPECT_EQ(server_.Requests().back().fields, std::vector<std::string>{"6"});
}

TEST_F(PacketExchangeTest, ReplyLengthLimits) {
    int announced = 0;
    server_.OnAnyCommand([&](const PacketRequest&) {
        PacketReply reply;
        if (announced > 7 && announced < 8000) reply.payload = std::string(static_cast<std::size_t>(announced - 7), 'r');
        reply.packLen = announced;
        return reply;
    });
    std::string payload;
    announced = 4091;
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, std::string("1\x02", 3), &payload), 4095);
    EXPECT_EQ(payload, std::string(4084, 'r'));

    const int tooLong = CountLogLines(L"nNeedLen[4096] > nLimitLen[4095]!!!");
    announced = 4092;
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, std::string("1\x02", 3)), -9);
    EXPECT_EQ(CountLogLines(L"nNeedLen[4096] > nLimitLen[4095]!!!"), tooLong + 1);

    // Lengths that cannot hold a header, or would overflow, are refused the same way.
    announced = 3;
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, std::string("1\x02", 3)), -9);
    announced = 0x7FFFFFFF;
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, std::string("1\x02", 3)), -9);
}

TEST_F(PacketExchangeTest, ReplyInPiecesIsPutTogether) {
    const std::string text = "0\x02" + std::string(700 + tick_ % 1000, 'p') + "\x02";
    server_.OnAnyCommand([&](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"0", text.substr(2, text.size() - 3)});
        reply.pieces = 3;
        return reply;
    });
    const int needed = static_cast<int>(kPackHeadSize + text.size() + 1);
    const std::wstring line = L"multi times read [" + std::to_wstring(needed) + L"][" + std::to_wstring(needed) + L"]";
    const int before = CountLogLines(line);
    struCommContext* context = Context(COMMAND_USEROPDATA_UPLOAD, std::string("1\x02", 3));
    EXPECT_EQ(comm_->SendAndRecv(context), needed);
    EXPECT_EQ(CCommunication::GetReplyText(context), text::FromAnsi(text));
    comm_->FreeContext(context);
    EXPECT_EQ(CountLogLines(line), before + 1);

    // Pieces of two bytes split the length field itself.
    server_.OnAnyCommand([](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"0", "ok"});
        reply.pieces = 8;
        return reply;
    });
    std::string payload;
    EXPECT_EQ(Exchange(COMMAND_USEROPDATA_UPLOAD, "y", &payload), 17);
    EXPECT_EQ(payload, std::string("0\x02ok\x02\0", 6));
}

TEST_F(PacketExchangeTest, FaultyRepliesAreRejectedAndLeaveTheOnlineStateAlone) {
    PacketReply fault;
    server_.OnAnyCommand([&](const PacketRequest&) { return fault; });
    fault = PacketReply::Fields({"0", "ok"});
    ASSERT_GT(Exchange(COMMAND_PLUSECHECK, "x"), 0);
    const int onlineCount = comm_->GetOnlineCount();

    fault.seqDelta = 1;
    const std::wstring wrongSeq = std::to_wstring(tick_ + 3) + L"][" + std::to_wstring(tick_ + 2) + L"]回应包数据有误";
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "x"), -1);
    EXPECT_EQ(CountLogLines(wrongSeq), 1);

    fault.seqDelta = 0;
    fault.commandIdDelta = 1;
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "x"), -1);
    EXPECT_EQ(CountLogLines(L"[1011][1010][" + std::to_wstring(tick_ + 3) + L"]"), 1);

    // Announces more than it sends, then hangs up.
    fault.commandIdDelta = 0;
    fault.packLen = 100;
    const std::wstring shortLine = L"CCommunication::SendAndRecv:[100][17][1010]数据长度无效";
    const int shortBefore = CountLogLines(shortLine);
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "x"), -1);
    EXPECT_EQ(CountLogLines(shortLine), shortBefore + 1);

    EXPECT_TRUE(comm_->IsOnline());
    EXPECT_EQ(comm_->GetOnlineCount(), onlineCount);

    // A reply may come plain.
    fault = PacketReply::Fields({"0", "plain"});
    fault.invert = false;
    std::string payload;
    EXPECT_GT(Exchange(COMMAND_PLUSECHECK, "x", &payload), 0);
    EXPECT_EQ(payload, std::string("0\x02plain\x02\0", 9));
}

TEST_F(PacketExchangeTest, SilentServerGivesZeroAndCountsAsFailure) {
    PacketReply slow = PacketReply::Fields({"0"});
    slow.delay = std::chrono::milliseconds(kTimeoutMs + 300);
    server_.OnAnyCommand([&](const PacketRequest&) { return slow; });
    EXPECT_EQ(Exchange(COMMAND_PLUSECHECK, "x"), 0);
    EXPECT_FALSE(comm_->IsOnline());
}

TEST_F(PacketExchangeTest, AReplyTrickledPastTheTimeOutFailsThoughEachPieceCameInTime) {
    PacketReply trickle = PacketReply::Fields({"0", "slow"});
    trickle.pieces = 8;
    trickle.pieceGap = std::chrono::milliseconds(kTimeoutMs / 3);
    server_.OnAnyCommand([&](const PacketRequest&) { return trickle; });
    EXPECT_LT(Exchange(COMMAND_PLUSECHECK, "x"), 1);  // each piece's time alone would let it through
}

TEST_F(PacketExchangeTest, SendWithoutWantedReplyGivesMinusOne) {
    SocketClientImpl client;
    client.SetServer("127.0.0.1", std::to_string(server_.Port()));
    const std::string packet = std::string("\x08\0\0\0\x10\x10\1\0\0\0\x31\xFF", 12);
    EXPECT_EQ(client.SendWithFailover(packet.data(), static_cast<int>(packet.size()), false), -1);
    EXPECT_TRUE(server_.WaitForRequests(1));
}

TEST(PacketExchangeUdpTest, DatagramReplyIsTakenWhole) {
    LoopbackPacketServer server(LoopbackPacketServer::Transport::Udp);
    CCommunication comm;
    ASSERT_EQ(comm.SetSocketThreadCount(1), 0);
    comm.SetServer(L"127.0.0.1", server.PortText(), 2, 1000);
    server.OnAnyCommand([](const PacketRequest& r) { return PacketReply::Fields({"0", "udp", r.fields.at(0)}); });
    struCommContext* context = comm.AllocateContext();
    context->nMode = COMM_MODE_SYNC;
    context->nCommandID = COMMAND_PLUSECHECK;
    std::memcpy(context->szData, "42\x02", 4);
    context->nDataLen = 4;
    context->pSocketThread = comm.GetSocketThread(0);
    EXPECT_EQ(comm.SendAndRecv(context), 11 + 10);
    EXPECT_EQ(CCommunication::GetReplyText(context), L"0\x02udp\x02" L"42\x02");
    comm.FreeContext(context);
}

}  // namespace
