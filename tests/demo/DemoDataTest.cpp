// The shipped demo data file: it answers every command the client sends, each reply holds
// the fields its handler reads, and the keep-alive announces exactly what the replies carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DemoFixture.h"

namespace {

// Every command the client sends, with the least fields per row its reply handler reads.
struct ClientCommand {
    std::uint16_t id;
    std::size_t fields;
    std::vector<std::string> request;  // a request as the client sends it, where it matters
};
const ClientCommand kClientCommands[] = {
    {0x1010, 23, {"1001"}},
    {0x1020, 6 + 26, {"demo", "demo123"}},
    {0x1021, 2, {"1001"}},
    {0x1065, 4, {"1001"}},
    {0x1068, 1, {"demo01"}},
    {0x1070, 26, {"1001"}},
    {0x1080, 25, {"1001"}},
    {0x1085, 6, {"1001", "1", "1"}},
    {0x1091, 7, {"1001", "20261209"}},
    {0x1092, 6, {"1001"}},
    {0x1095, 1, {"1001"}},
    {0x1100, 23, {"1001", "101", "7", "-1"}},
    {0x1101, 21, {"1001", "101", "5", "-1"}},
    {0x1102, 10, {"1001", "101", "3", "-1"}},
    {0x1110, 8, {"1001", "2", "0"}},
    {0x1111, 9, {"1001", "2", "0"}},
    {0x1112, 9, {"1", "1", "0"}},
    {0x1113, 9, {"1", "1", "0"}},
    {0x1130, 2, {"1001", "7"}},
    {0x1140, 30, {"1001", "pedometer", "1", "1", "open"}},
    {0x1141, 6, {"1001", "3", "20261209", "t", "c", "1", "now", "1", "0", "0"}},
    {0x1142, 6, {"1001", "4", "20261209", "2", "1", "1", "0"}},
    {0x1154, 4, {"1001", "weight"}},
    {0x1170, 8 + 12, {"1001", "122", "123456789A", "123456789A", "now", "raw", ""}},
    {0x1171, 9, {"1001", "1002", "BP1", "BP1", "now", "1", "2", "2", "kept", "0", "", "", ""}},
    {0x1180, 2 + 12, {"5000"}},
    {0x1190, 8, {"1001", "20261209", "16", "1"}},
    {0x1192, 1, {"1001"}},
    {0x1194, 1, {"1001"}},
};

class ShippedDemoDataTest : public DemoDataFixture {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(data_.Load(QUORV_DEMO_DATA, error)) << error;
    }
    // A field of the one-row reply to the command, from 1.
    std::string Field(std::uint16_t command, std::size_t n, std::vector<std::string> request = {"1001"}) const {
        const DemoRows rows = Rows(Ask(command, std::move(request)).reply);
        return n >= 1 && n <= rows.front().size() ? rows.front()[n - 1] : "<missing>";
    }
    int KeepAlive(std::size_t n) const { return std::atoi(Field(0x1010, n).c_str()); }
    // The request the client sends with the command.
    static const std::vector<std::string>& RequestOf(std::uint16_t command) {
        return std::find_if(std::begin(kClientCommands), std::end(kClientCommands),
                            [command](const ClientCommand& c) { return c.id == command; })
            ->request;
    }
    // The number of a feed's newest message: the client holds none, then each one given.
    int NewestMessage(std::uint16_t feed, std::size_t numberField) const {
        int held = 0;
        for (int guard = 0; guard < 100; ++guard) {
            const DemoAnswer answer = Ask(feed, {"1", "99", std::to_string(held)});
            if (answer.refused) return held;
            const int next = std::atoi(Rows(answer.reply).front()[numberField - 1].c_str());
            if (next <= held) return -1;  // the feed would never end
            held = next;
        }
        return -1;
    }
};

TEST_F(ShippedDemoDataTest, AnswersEveryClientCommandWithTheFieldsItsHandlerReads) {
    for (const ClientCommand& command : kClientCommands) {
        SCOPED_TRACE(testing::Message() << std::hex << "command 0x" << command.id);
        const DemoAnswer answer = Ask(command.id, command.request);
        EXPECT_FALSE(answer.refused) << answer.logLine;
        for (const auto& row : Rows(answer.reply)) EXPECT_GE(row.size(), command.fields);
    }
    EXPECT_EQ(data_.Commands().size(), std::size(kClientCommands)) << "a command the client never sends";
}

TEST_F(ShippedDemoDataTest, ResultCodesAreZeroWhereTheClientReadsOne) {
    for (const std::uint16_t command : {0x1010, 0x1020, 0x1021, 0x1065, 0x1091, 0x1095, 0x1140, 0x1141, 0x1142, 0x1154,
                                        0x1170, 0x1171, 0x1180, 0x1190, 0x1192, 0x1194}) {
        EXPECT_EQ(Field(command, 1, RequestOf(command)), "0") << std::hex << command;
    }
    EXPECT_TRUE(Ask(0x1020, {"demo", "wrong"}).refused);
}

TEST_F(ShippedDemoDataTest, KeepAliveAnnouncesWhatTheRepliesCarry) {
    EXPECT_EQ(KeepAlive(2), std::atoi(Field(0x1070, 24).c_str())) << "profile number";
    // Every other reply that carries the user record or its number carries the same one.
    for (const auto& [command, numberField] :
         {std::pair{0x1020, 6 + 24}, std::pair{0x1140, 28}, std::pair{0x1065, 3}}) {
        const auto id = static_cast<std::uint16_t>(command);
        EXPECT_EQ(KeepAlive(2), std::atoi(Field(id, static_cast<std::size_t>(numberField), RequestOf(id)).c_str()))
            << std::hex << command;
    }
    EXPECT_EQ(KeepAlive(3), std::atoi(Field(0x1080, 23).c_str())) << "extended profile number";
    EXPECT_EQ(KeepAlive(5), std::atoi(Field(0x1100, 7).c_str())) << "live weather number";
    for (const auto& [command, numberField, announced] :
         {std::tuple{0x1101, 8, 4}, std::tuple{0x1102, 4, 6}}) {
        for (const auto& row : Rows(Ask(static_cast<std::uint16_t>(command)).reply))
            EXPECT_EQ(std::atoi(row.at(static_cast<std::size_t>(numberField - 1)).c_str()),
                      KeepAlive(static_cast<std::size_t>(announced)))
                << std::hex << command;
    }
    EXPECT_EQ(KeepAlive(7), NewestMessage(0x1110, 1)) << "public";
    EXPECT_EQ(KeepAlive(8), NewestMessage(0x1112, 2)) << "user type";
    EXPECT_EQ(KeepAlive(9), NewestMessage(0x1111, 2)) << "user";
    EXPECT_EQ(KeepAlive(10), NewestMessage(0x1113, 2)) << "user group";
    ASSERT_EQ(data_.Articles().size(), 2u);
    EXPECT_EQ(KeepAlive(12), data_.Articles()[0].count);
    EXPECT_EQ(KeepAlive(13), data_.Articles()[1].count);
    const int parameters = KeepAlive(21);
    EXPECT_EQ(Rows(Ask(0x1010).reply).front().size(), static_cast<std::size_t>(21 + parameters + 2));
    for (int i = 0; i < parameters; ++i) {
        const int announced = KeepAlive(static_cast<std::size_t>(22 + i));
        if (announced <= 0) continue;  // not asked for
        const std::string parameterNo = std::to_string(i + 1);
        EXPECT_EQ(Field(0x1085, 4, {"1001", parameterNo, std::to_string(announced)}), std::to_string(announced));
    }
}

TEST_F(ShippedDemoDataTest, WeatherAndIndicesAreForTheLoginsArea) {
    const std::string area = Field(0x1020, 4, {"demo", "demo123"});
    EXPECT_GT(std::atoi(area.c_str()), 0);
    EXPECT_EQ(Field(0x1100, 1), area);
    for (const std::uint16_t command : {0x1101, 0x1102})
        for (const auto& row : Rows(Ask(command).reply)) EXPECT_EQ(row.front(), area);
    // Today's rows: the client keeps the forecast from today on and today's indices.
    EXPECT_EQ(Rows(Ask(0x1101).reply).front().at(1), "20261209");
    EXPECT_EQ(Rows(Ask(0x1102).reply).front().at(1), "20261209");
}

TEST_F(ShippedDemoDataTest, UploadsAreAcknowledgedForTheRecordSent) {
    // user, record number, operation: what the pending uploads are matched by.
    EXPECT_EQ(Rows(Ask(0x1142, {"1001", "4", "20261209", "2", "1", "1", "0"}).reply).front(),
              (std::vector<std::string>{"0", "保存成功", "1001", "4", "0", "4"}));
    const auto pedometer = Rows(Ask(0x1170, {"1001", "122", "ID", "123456789A", "now", "raw", ""}).reply).front();
    EXPECT_EQ(pedometer.at(3), "122");
    EXPECT_EQ(pedometer.at(4), "123456789A");
    const auto monitor = Rows(Ask(0x1171, {"1001", "1002", "R", "BP1", "now", "3", "1", "1"}).reply).front();
    EXPECT_EQ(monitor.at(3), "1002");
    EXPECT_EQ(monitor.at(4), "BP1");
    EXPECT_EQ(monitor.at(6), "3") << "the packet number";
}

}  // namespace
