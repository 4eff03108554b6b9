#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

#include "GraphFlash.h"
#include "GraphTestSupport.h"

namespace {

// A writer over the shared steps, as the charts use them.
class ProbeChart : public CGraphFlash {
public:
    using CGraphFlash::ColumnInt;
    using CGraphFlash::ColumnText;
    using CGraphFlash::FieldInt;
    using CGraphFlash::FieldText;
    using CGraphFlash::FormatNumber;
    using CGraphFlash::Item;
    using CGraphFlash::ItemCount;

    // Two members as they are, one labelled child, the axis, then the caption again.
    std::string WriteLabelled(const std::wstring& label) {
        TiXmlElement root("chart");
        SetAttributes(root, {{"caption", m_caption.c_str()}, {"showValues", m_showValues.c_str()}});
        TiXmlElement set("set");
        SetAttributes(set, {{"label", Ansi(label).c_str()}});
        root.InsertEndChild(set);
        SetAxis(root, "0", "10");
        m_caption = "second";
        SetAttributes(root, {{"caption", m_caption.c_str()}});
        return Print(root);
    }
};

// A fresh chart's members are empty; a name set again keeps its place, and the axis set
// after the children follows what was set before.
TEST(GraphFlashTest, FreshMembersPrintEmptyAndAttributesKeepTheirFirstPlace) {
    ProbeChart chart;
    EXPECT_EQ(chart.WriteLabelled(L"x"),
              "<chart caption=\"second\" showValues=\"\" yAxisMinValue=\"0\" yAxisMaxValue=\"10\">\n"
              "    <set label=\"x\" />\n"
              "</chart>\n");
}

TEST(GraphFlashTest, LabelsAreEscapedAsTheXmlLibraryPrintsThemAndGbkPassesRaw) {
    ProbeChart chart;
    // A double quote in the value makes the printer quote it with apostrophes.
    EXPECT_EQ(chart.WriteLabelled(L"a\"b'c&d\re<f"),
              "<chart caption=\"second\" showValues=\"\" yAxisMinValue=\"0\" yAxisMaxValue=\"10\">\n"
              "    <set label='a&quot;b&apos;c&amp;d&#x0D;e&lt;f' />\n"
              "</chart>\n");
    const std::string gbk = chart.WriteLabelled(L"体重\U0001F600");
    EXPECT_NE(gbk.find("label=\"\xCC\xE5\xD6\xD8?\""), std::string::npos);  // 体重 in GBK, then '?'
}

TEST(GraphFlashTest, ScriptFieldsFallBackWhenMissingOrOfTheWrongKind) {
    const uie::value item = Json(
        LR"({"n": 7, "f": 65.9, "huge": 1e12, "digits": "12", "flag": true,
                                       "list": [1], "nothing": null, "text": "体重"})");
    EXPECT_EQ(ProbeChart::FieldInt(item, L"n", -1), 7);
    EXPECT_EQ(ProbeChart::FieldInt(item, L"f", -1), 65);
    EXPECT_EQ(ProbeChart::FieldInt(item, L"huge", -1), -1);
    EXPECT_EQ(ProbeChart::FieldInt(item, L"digits", -1), -1);  // a text is not a number
    EXPECT_EQ(ProbeChart::FieldInt(item, L"flag", -1), -1);
    EXPECT_EQ(ProbeChart::FieldInt(item, L"missing", -29999), -29999);
    EXPECT_EQ(ProbeChart::FieldInt(uie::value(5), L"n", -1), -1);  // not a map

    EXPECT_EQ(ProbeChart::FieldText(item, L"text", L"d"), L"体重");
    EXPECT_EQ(ProbeChart::FieldText(item, L"n", L"d"), L"7");
    EXPECT_EQ(ProbeChart::FieldText(item, L"digits", L"d"), L"12");
    EXPECT_EQ(ProbeChart::FieldText(item, L"missing", L"d"), L"d");
    EXPECT_EQ(ProbeChart::FieldText(item, L"list", L"d"), L"d");
    EXPECT_EQ(ProbeChart::FieldText(item, L"nothing", L"d"), L"d");

    // Only lists hold items.
    EXPECT_EQ(ProbeChart::ItemCount(uie::value::make_array({item, item})), 2u);
    EXPECT_EQ(ProbeChart::ItemCount(item), 0u);
    EXPECT_EQ(ProbeChart::ItemCount(uie::value(L"[1,2]")), 0u);
    EXPECT_TRUE(ProbeChart::Item(item, 0).is_undefined());
}

TEST(GraphFlashTest, TableColumnsPastTheRowOrNotNumbersReadZero) {
    const std::vector<std::wstring> row = {L"12abc", L"abc"};
    EXPECT_EQ(ProbeChart::ColumnInt(row, 0), 12);
    EXPECT_EQ(ProbeChart::ColumnInt(row, 1), 0);
    EXPECT_EQ(ProbeChart::ColumnInt(row, 2), 0);
    EXPECT_EQ(ProbeChart::ColumnText(row, 2), L"");
}

TEST(GraphFlashTest, NumbersKeepAtMostSixDecimalsAndWholeNumbersSaturate) {
    EXPECT_EQ(ProbeChart::FormatNumber(65.3f, 1), "65.3");
    EXPECT_EQ(ProbeChart::FormatNumber(1.5, 40), "1.500000");
    EXPECT_EQ(ProbeChart::FormatNumber(-7.9, 0), "-7");
    EXPECT_EQ(ProbeChart::FormatNumber(-7.9, -3), "-7");
    EXPECT_EQ(ProbeChart::FormatNumber(1e20, 0), "2147483647");
    EXPECT_EQ(ProbeChart::FormatNumber(-1e20, 0), "-2147483648");
}

}  // namespace
