// The demo server's replies from a data file: placeholders, separators, choices among
// replies, refusals, and a data file that does not load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DemoFixture.h"

namespace {

using Fields = std::vector<std::string>;

const char* const kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<demo account=\"demo\" password=\"pw\">\n";

class DemoRepliesTest : public DemoDataFixture {
protected:
    void Use(const std::string& body) { ASSERT_EQ(LoadText(kHead + body + "</demo>\n"), ""); }
};

TEST_F(DemoRepliesTest, FillsRequestFieldsDatesAndNamedTexts) {
    Use("<text name=\"who\">1001|demo01</text>\n"
        "<command id=\"0x1154\" name=\"upload\"><reply>0|{who}|{req:2}|{req:9}|{today}|{today+30}|{today-9}|{date}|"
        "{now}</reply></command>\n");
    EXPECT_EQ(Rows(Ask(0x1154, {"1001", "weight"}).reply).front(),
              (Fields{"0", "1001", "demo01", "weight", "", "20261209", "20270108", "20261130", "2026-12-09",
                      "2026-12-09 08:30:00"}));
}

TEST_F(DemoRepliesTest, EverySeparatorEndsAFieldAndRowsEndWithTheRecordMark) {
    Use("<command id=\"0x1101\" name=\"rows\"><reply><row>1|a|</row><row>2|b|</row></reply></command>\n"
        "<command id=\"0x1170\" name=\"bars\"><reply sep=\";\">0;1|2|;</reply></command>\n");
    const PacketReply rows = Ask(0x1101).reply;
    EXPECT_EQ(rows.payload, std::string("1\x02" "a\x02\x02\x03" "2\x02" "b\x02\x02\x03") + '\0');
    EXPECT_EQ(Rows(Ask(0x1170).reply).front(), (Fields{"0", "1|2|", ""}));
}

TEST_F(DemoRepliesTest, TextsGoOutInTheSystemCodePageAndRequestFieldsAsTheyCame) {
    Use("<command id=\"0x1020\" name=\"login\"><reply>登录成功|{req:1}</reply></command>\n");
    const std::string gbkName = text::ToAnsi(L"张三");
    const PacketReply reply = Ask(0x1020, {gbkName}).reply;
    EXPECT_EQ(reply.payload, text::ToAnsi(L"登录成功") + '\x02' + gbkName + '\x02' + '\0');
}

TEST_F(DemoRepliesTest, ChoosesTheNextMessageAfterTheOneHeldOrTheMatchingOne) {
    Use("<command id=\"0x1110\" name=\"feed\" pick=\"after\" field=\"3\" refuse=\"-99999|none|{req:3}\">"
        "<reply key=\"1\">1|first</reply><reply key=\"5\">5|second</reply></command>\n"
        "<command id=\"0x1085\" name=\"parameter\" pick=\"match\" field=\"2\">"
        "<reply key=\"1\">1|one</reply><reply key=\"2\">2|two</reply></command>\n");
    EXPECT_EQ(Rows(Ask(0x1110, {"1001", "5", "0"}).reply).front(), (Fields{"1", "first"}));
    EXPECT_EQ(Rows(Ask(0x1110, {"1001", "5", "1"}).reply).front(), (Fields{"5", "second"}));
    const DemoAnswer after = Ask(0x1110, {"1001", "5", "5"});
    EXPECT_TRUE(after.refused);
    EXPECT_EQ(Rows(after.reply).front(), (Fields{"-99999", "none", "5"}));
    EXPECT_EQ(Rows(Ask(0x1085, {"1001", "2"}).reply).front(), (Fields{"2", "two"}));
    EXPECT_TRUE(Ask(0x1085, {"1001", "3"}).refused);
    EXPECT_TRUE(Ask(0x1085, {"1001"}).refused) << "no field to match";
}

TEST_F(DemoRepliesTest, RefusesAWrongAccountAndAnUnknownCommandWithANegativeResult) {
    Use("<command id=\"0x1020\" name=\"login [{req:1}]\" require=\"1={account};2={password}\" refuse=\"-1|wrong\">"
        "<reply>0|ok</reply></command>\n");
    const DemoAnswer wrong = Ask(0x1020, {"demo", "nope"});
    EXPECT_TRUE(wrong.refused);
    EXPECT_EQ(Rows(wrong.reply).front(), (Fields{"-1", "wrong"}));
    EXPECT_EQ(wrong.logLine, "login [demo] refused");
    const DemoAnswer right = Ask(0x1020, {"demo", "pw"});
    EXPECT_FALSE(right.refused);
    EXPECT_EQ(right.logLine, "login [demo]");
    const DemoAnswer unknown = Ask(0x1999, {"x"});
    EXPECT_TRUE(unknown.refused);
    EXPECT_EQ(Rows(unknown.reply).front(), (Fields{"-1", "unknown request"}));
    EXPECT_EQ(unknown.logLine, "unknown 0x1999 [x] refused");
    EXPECT_FALSE(unknown.reply.noReply);
}

TEST_F(DemoRepliesTest, AFileThatDoesNotLoadIsNamedWithThePlace) {
    const std::string file = (dir_ / "demo.xml").string();
    EXPECT_EQ(LoadText(std::string(kHead) + "<command id=\"0x10\" name=\"x\">\n  <reply>{bogus}</reply>\n</command></demo>"),
              file + ":4:3: unknown placeholder {bogus}");
    const std::string unclosed = LoadText(std::string(kHead) + "<command id=\"0x10\">\n<reply>a</reply>\n</comand></demo>");
    EXPECT_EQ(unclosed.rfind(file + ":5:", 0), 0u) << unclosed;
    EXPECT_EQ(LoadText(std::string(kHead) + "<command id=\"0x10\"><reply>a</reply></command>\n"
                                            "<command id=\"16\"><reply>b</reply></command></demo>"),
              file + ":4:1: command id \"16\" is no new number in 1..0xFFFF");
    EXPECT_EQ(LoadText(std::string(kHead) + "<command id=\"0x10\" pick=\"after\"><reply>a</reply></command></demo>"),
              file + ":3:1: pick must be \"after\" or \"match\", with a request field from 1");
    EXPECT_EQ(LoadText(std::string(kHead) + "<command id=\"0x10\" require=\"x\"><reply>a</reply></command></demo>"),
              file + ":3:1: require item \"x\" is not <field>=<text>");
    EXPECT_EQ(LoadText(std::string(kHead) + "<command id=\"0x10\"></command></demo>"),
              file + ":3:1: command 0x10 needs one <reply>, or a pick among several");
    std::string error;
    EXPECT_FALSE(data_.Load((dir_ / "absent.xml").string(), error));
    EXPECT_EQ(error, (dir_ / "absent.xml").string() + ": cannot be read");
}

}  // namespace
