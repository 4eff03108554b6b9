#include <gtest/gtest.h>

#include <string>

#include "BloodPressureGraph.h"
#include "GraphTestSupport.h"

namespace {

const wchar_t kRootAttributes[] =
    L"animation=\"1\" showValues=\"1\" bgColor=\"\" bgAlpha=\"\" showBorder=\"\" useRoundEdges=\"1\" "
    L"showDetailedLegend=\"0\" plotSpacePercent=\"50\" yAxisMinValue=\"20\" yAxisMaxValue=\"200\" "
    L"numDivLines=\"0\" showLegend=\"1\" legendAllowDrag=\"1\"";

// The printer writes the last zone's '>' as an entity.
const wchar_t kTrendZones[] =
    L"    <trendLines>\n"
    L"        <line startValue=\"120\" endValue=\"139\" isTrendZone=\"1\" color=\"E0E0E0\" displayValue=\"正常高值\" "
    L"toolText=\"正常高值血压---收缩压：120-139\" showOnTop=\"0\" dashed=\"1\" />\n"
    L"        <line startValue=\"140\" endValue=\"159\" isTrendZone=\"1\" color=\"BEBEBE\" displayValue=\"轻度\" "
    L"toolText=\"1级高血压(轻度)---收缩压：140-159\" showOnTop=\"0\" dashed=\"1\" />\n"
    L"        <line startValue=\"160\" endValue=\"179\" isTrendZone=\"1\" color=\"9D9D9D\" displayValue=\"中度\" "
    L"toolText=\"2级高血压(中度)---收缩压: 160-179\" showOnTop=\"0\" dashed=\"1\" />\n"
    L"        <line startValue=\"180\" endValue=\"200\" isTrendZone=\"1\" color=\"6C6C6C\" displayValue=\"重度\" "
    L"toolText=\"3级高血压(重度)---收缩压: &gt;180\" showOnTop=\"0\" dashed=\"1\" />\n"
    L"    </trendLines>\n"
    L"</chart>\n";

class BloodPressureGraphTest : public ::testing::Test {
protected:
    std::string Write(const std::wstring& options, const std::wstring& records) {
        std::string xml;
        EXPECT_EQ(chart_.GenGraphData(Json(options), Json(records), xml), 0);
        return xml;
    }
    // One result per day of March 2012, last day first, each in period 1.
    static std::wstring Days(int n) {
        std::wstring list = L"[";
        for (int i = n; i >= 1; --i) {
            list += (i < n ? L"," : L"") + (L"{\"dataDate\": \"" + std::to_wstring(20120300 + i) +
                                            L"\", \"bpKbn\": 1, \"avgSystolic\": " + std::to_wstring(100 + i) + L"}");
        }
        return list + L"]";
    }
    static std::size_t Count(const std::string& xml, const std::string& what) {
        std::size_t n = 0;
        for (auto at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
        return n;
    }
    // The element lines that open with this tag, in order, each on a line of its own.
    static std::string Lines(const std::string& xml, const std::string& tag) {
        std::string found;
        for (auto at = xml.find("<" + tag + " "); at != std::string::npos; at = xml.find("<" + tag + " ", at + 1)) {
            found += xml.substr(at, xml.find('\n', at) + 1 - at);
        }
        return found;
    }

    CBloodPressureGraph chart_{"../graph/BloodPressure/bloodPressureData_Box.swf", "../graph/BloodPressure/data.xml"};
};

// Days ascending; a day lacking a result of the box's period shows no value and a tool-tip
// of the day with that period, no count and no pressures.
TEST_F(BloodPressureGraphTest, DailyBoxesPerPeriodInTheirOrderWithTheZonesLast) {
    const std::string xml = Write(LR"([{"afterWakeUp": 1, "normal": 1, "beforeAsleep": 0, "showLegend": "0"}])",
                                  LR"([{"dataDate": "20120306", "bpKbn": 1, "avgSystolic": 135, "avgDiastolic": 85,
                                        "avgPulse": 70, "recNum": 3, "bpLevel": "2", "bpAssessNote": "偏高",
                                        "summary": "饭后"},
                                       {"dataDate": "20120305", "bpKbn": 2, "avgSystolic": 118, "avgDiastolic": 76,
                                        "avgPulse": 66, "bpLevel": "1"}])");
    std::wstring root = kRootAttributes;
    root.replace(root.find(L"showLegend=\"1\""), 14, L"showLegend=\"0\"");
    EXPECT_EQ(xml, Gbk(L"<chart " + root + L">\n" +
                       L"    <categories>\n"
                       L"        <category label=\"2012{br}0305\" />\n"
                       L"        <category label=\"2012{br}0306\" />\n"
                       L"    </categories>\n"
                       L"    <dataset seriesName=\"清晨\" lowerboxcolor=\"2828FF\" upperboxcolor=\"2828FF\" "
                       L"showMedianValues=\"0\" medianThickness=\"0\" medianAlpha=\"0\">\n"
                       L"        <set tooltext=\"测量时间：20120305(清晨){br}测量次数：0{br}收缩压：-1{br}舒张压：-1{br}"
                       L"压差：0{br}心率：-1{br}血压级别：{br}评语：{br}备注：{br}\" />\n"
                       L"        <set value=\"135,85,70\" tooltext=\"测量时间：20120306(清晨){br}测量次数：3{br}"
                       L"收缩压：135{br}舒张压：85{br}压差：50{br}心率：70{br}血压级别：正常高值血压{br}评语：偏高{br}"
                       L"备注：饭后{br}\" />\n"
                       L"    </dataset>\n"
                       L"    <dataset seriesName=\"白天\" lowerboxcolor=\"FB7733\" upperboxcolor=\"FB7733\" "
                       L"showMedianValues=\"0\" medianThickness=\"0\" medianAlpha=\"0\">\n"
                       L"        <set value=\"118,76,66\" tooltext=\"测量时间：20120305(白天){br}测量次数：1{br}"
                       L"收缩压：118{br}舒张压：76{br}压差：42{br}心率：66{br}血压级别：正常血压{br}评语：{br}"
                       L"备注：{br}\" />\n"
                       L"        <set tooltext=\"测量时间：20120306(白天){br}测量次数：0{br}收缩压：-1{br}舒张压：-1{br}"
                       L"压差：0{br}心率：-1{br}血压级别：{br}评语：{br}备注：{br}\" />\n"
                       L"    </dataset>\n" +
                       kTrendZones));
}

TEST_F(BloodPressureGraphTest, AnotherGraphTypeAndNoRecordsGiveTheFrameAndTheZones) {
    EXPECT_EQ(Write(LR"([{"graphType": "3"}])", Days(3)), Gbk(std::wstring(L"<chart ") + kRootAttributes + L">\n" +
                                                             kTrendZones));
    EXPECT_EQ(Write(LR"([{"graphType": 1, "all": 1}])", L"[]"),
              Gbk(std::wstring(L"<chart ") + kRootAttributes + L">\n    <categories />\n" +
                  L"    <dataset seriesName=\"全天\" lowerboxcolor=\"FF5904\" upperboxcolor=\"FF5904\" "
                  L"showMedianValues=\"0\" medianThickness=\"0\" medianAlpha=\"0\" />\n" +
                  kTrendZones));
    // Not lists: read as no options and no records.
    EXPECT_EQ(Write(L"{}", L"7"), Write(L"[]", L"[]"));
}

// The label splits after the year; a text too short for a year stays whole before the
// break. The tool-tip shows the day as written.
TEST_F(BloodPressureGraphTest, DayLabelsBreakAfterTheYear) {
    const std::wstring options = LR"([{"graphType": 2}])";
    EXPECT_EQ(Lines(Write(options, LR"([{"dataDate": "20120305"}, {"dataDate": "201"}, {"dataDate": ""},
                                        {"dataDate": 2012}])"),
                    "category"),
              "<category label=\"2012{br}0305\" />\n<category label=\"201{br}\" />\n"
              "<category label=\"{br}\" />\n<category label=\"2012{br}\" />\n");
    EXPECT_NE(Write(options, LR"([{"dataDate": "201"}])").find(Gbk(L"测量时间：201(")), std::string::npos);
}

// The first result of a day and period in list order feeds the box; a day written twice
// counts once, labelled as first seen.
TEST_F(BloodPressureGraphTest, TheFirstResultOfADayAndPeriodWins) {
    const std::string xml = Write(LR"([{"afterWakeUp": 1}])",
                                  LR"([{"dataDate": "020120305", "bpKbn": 2, "avgSystolic": 150},
                                       {"dataDate": "20120305", "bpKbn": 1, "avgSystolic": 120},
                                       {"dataDate": "20120305", "bpKbn": 1, "avgSystolic": 999}])");
    EXPECT_EQ(Lines(xml, "category"), "<category label=\"0201{br}20305\" />\n");
    EXPECT_EQ(Count(xml, "value=\""), 1u);
    EXPECT_NE(xml.find("value=\"120,0,0\""), std::string::npos);
    EXPECT_NE(xml.find(Gbk(L"测量时间：20120305(清晨){br}测量次数：1{br}收缩压：120")), std::string::npos);
}

// With "all" 1 only the whole-day box is written, whatever the period flags say, and it
// takes a result of any period. Any other "all" writes no box.
TEST_F(BloodPressureGraphTest, TheWholeDayBoxTakesAnyPeriod) {
    const std::string xml = Write(LR"([{"all": 1, "afterWakeUp": 1, "normal": 1, "beforeAsleep": 1}])",
                                  LR"([{"dataDate": "20120306", "bpKbn": 0, "avgSystolic": 140},
                                       {"dataDate": "20120305", "bpKbn": 3, "avgSystolic": 130},
                                       {"dataDate": "20120305", "bpKbn": 1, "avgSystolic": 110}])");
    EXPECT_EQ(Lines(xml, "dataset"), Gbk(L"<dataset seriesName=\"全天\" lowerboxcolor=\"FF5904\" "
                                         L"upperboxcolor=\"FF5904\" showMedianValues=\"0\" medianThickness=\"0\" "
                                         L"medianAlpha=\"0\">\n"));
    EXPECT_NE(xml.find(Gbk(L"value=\"130,0,0\" tooltext=\"测量时间：20120305(夜间)")), std::string::npos);
    EXPECT_NE(xml.find(Gbk(L"value=\"140,0,0\" tooltext=\"测量时间：20120306()")), std::string::npos);
    EXPECT_EQ(Lines(Write(LR"([{"all": 2, "afterWakeUp": 1}])", Days(2)), "dataset"), "");
    const std::string unknown = Write(LR"([{"all": 1}])", LR"([{"dataDate": "20120305", "bpKbn": 9}])");
    EXPECT_NE(unknown.find("value=\"0,0,0\""), std::string::npos);
}

TEST_F(BloodPressureGraphTest, ShowMaxRecNumKeepsTheEarliestDaysInEveryList) {
    const std::string boxes = Write(LR"([{"showMaxRecNum": 7, "afterWakeUp": 1, "normal": 1}])", Days(30));
    EXPECT_EQ(Count(boxes, "<category "), 7u);
    EXPECT_EQ(Count(boxes, "<set "), 14u);
    EXPECT_NE(boxes.find("label=\"2012{br}0301\""), std::string::npos);
    EXPECT_NE(boxes.find("label=\"2012{br}0307\""), std::string::npos);
    EXPECT_EQ(boxes.find("label=\"2012{br}0308\""), std::string::npos);
    // Per result, in list order: the first seven of the list.
    const std::string lines = Write(LR"([{"showMaxRecNum": 7, "graphType": 2}])", Days(30));
    EXPECT_EQ(Count(lines, "<set "), 21u);
    EXPECT_NE(lines.find("label=\"2012{br}0324\""), std::string::npos);
    EXPECT_EQ(Count(Write(LR"([{"showMaxRecNum": 0, "graphType": 2}])", Days(30)), "<category "), 30u);
}

TEST_F(BloodPressureGraphTest, OnlyLinesOfMoreThanTwentyResultsHideTheirValues) {
    const std::string crowded = "showValues=\"0\" bgColor=\"\" bgAlpha=\"\" showBorder=\"\" useRoundEdges=\"1\" "
                                "showDetailedLegend=\"0\" plotSpacePercent=\"50\" yAxisMinValue=\"20\" "
                                "yAxisMaxValue=\"200\" numDivLines=\"5\"";
    EXPECT_NE(Write(LR"([{"graphType": 2}])", Days(21)).find(crowded), std::string::npos);
    EXPECT_EQ(Write(LR"([{"graphType": 2}])", Days(20)).find(crowded), std::string::npos);
    // Type 1 keeps the page's choice, and the chart forgets the crowded line chart.
    const std::string boxes = Write(LR"([{"graphType": 1, "showValues": "1"}])", Days(21));
    EXPECT_NE(boxes.find("showValues=\"1\""), std::string::npos);
    EXPECT_NE(boxes.find("numDivLines=\"0\""), std::string::npos);
}

TEST_F(BloodPressureGraphTest, LinesAndDetailBoxesHaveASetPerResult) {
    const std::wstring records = LR"([{"dataDate": "20120305", "bpKbn": 2, "avgSystolic": 2147483647,
                                        "avgDiastolic": -2147483648, "avgPulse": 61, "recNum": 4, "bpLevel": 6},
                                       {"dataDate": "20120304", "bpKbn": 4, "avgSystolic": 121, "avgDiastolic": 81,
                                        "avgPulse": "x"}])";
    const std::string lines = Write(LR"([{"graphType": 2}])", records);
    EXPECT_EQ(Lines(lines, "dataset"), Gbk(L"<dataset seriesName=\"收缩压\" renderAs=\"Line\">\n"
                                           L"<dataset seriesName=\"舒张压\" renderAs=\"Line\">\n"
                                           L"<dataset seriesName=\"心率\" renderAs=\"Line\">\n"));
    // The difference of the extremes is printed whole rather than wrapped.
    EXPECT_NE(lines.find(Gbk(L"<set value=\"2147483647\" tooltext=\"测量时间：20120305(白天){br}测量次数：4{br}"
                             L"收缩压：2147483647{br}舒张压：-2147483648{br}压差：4294967295{br}心率：61{br}"
                             L"血压级别：单纯收缩期高血压{br}")),
              std::string::npos);
    EXPECT_NE(lines.find("<set value=\"0\""), std::string::npos);  // a pulse that is no number

    const std::string detail = Write(LR"([{"sumMode": "all"}])", records);
    EXPECT_EQ(Lines(detail, "set"),
              Gbk(L"<set value=\"2147483647,-2147483648,61\" tooltext=\"测量时间：20120305(白天){br}"
                  L"收缩压：2147483647{br}舒张压：-2147483648{br}压差：4294967295{br}心率：61{br}"
                  L"血压级别：单纯收缩期高血压{br}评语：{br}备注：{br}\" lowerboxcolor=\"FB7733\" "
                  L"upperboxcolor=\"FB7733\" />\n"
                  L"<set value=\"121,81,0\" tooltext=\"测量时间：20120304(){br}收缩压：121{br}舒张压：81{br}"
                  L"压差：40{br}心率：0{br}血压级别：{br}评语：{br}备注：{br}\" />\n"));
    EXPECT_EQ(Lines(detail, "dataset"), Gbk(L"<dataset seriesName=\"明细\" showMedianValues=\"0\" "
                                            L"medianThickness=\"0\" medianAlpha=\"0\">\n"));
}

}  // namespace
