#include <gtest/gtest.h>

#include <string>

#include "GraphTestSupport.h"
#include "HomePageAssessGraph.h"

namespace {

TEST(HomePageAssessGraphTest, RowsGivenNewestFirstAreWrittenOldestFirstInBothSeries) {
    CHomePageAssessGraph chart("a.swf", "a.xml");
    const SqlRows rows = {{L"1001", L"20260301", L"88", L"12"},
                          {L"1001", L"20260201", L"75", L"35"},
                          {L"1001", L"20260101", L"70", L"30"}};
    std::string xml;
    chart.GenGraphXml(rows, xml);
    EXPECT_EQ(
        xml,
        Gbk(L"<chart caption=\"近期健康评估趋势\" animation=\"1\" showValues=\"0\" bgColor=\"0\" bgAlpha=\"0\" "
            L"showBorder=\"0\" numDivLines=\"0\" showCanvasBg=\"0\" showCanvasBase=\"0\" canvasBaseDepth=\"0\" "
            L"chartLeftMargin=\"4\" chartRightMargin=\"4\" chartTopMargin=\"4\" chartBottomMargin=\"4\" "
            L"formatNumberScale=\"0\" canvaspadding=\"0\" lineThickness=\"1\" canvasBgAlpha=\"0\" "
            L"canvasBorderAlpha=\"0\" showYAxisValues=\"0\" showLegend=\"1\" yAxisMinValue=\"12\" "
            L"yAxisMaxValue=\"88\">\n"
            L"    <categories>\n"
            L"        <category label=\"\" />\n"
            L"        <category label=\"\" />\n"
            L"        <category label=\"\" />\n"
            L"    </categories>\n"
            L"    <dataset seriesName=\"评估得分\">\n"
            L"        <set label=\"20260101\" value=\"70\" tooltext=\"评估时间: 20260101{br}评估得分: 70\" />\n"
            L"        <set label=\"20260201\" value=\"75\" tooltext=\"评估时间: 20260201{br}评估得分: 75\" />\n"
            L"        <set label=\"20260301\" value=\"88\" tooltext=\"评估时间: 20260301{br}评估得分: 88\" />\n"
            L"    </dataset>\n"
            L"    <dataset seriesName=\"评估领先率\">\n"
            L"        <set label=\"20260101\" value=\"30\" tooltext=\"评估时间: 20260101{br}评估领先率: 30％\" />\n"
            L"        <set label=\"20260201\" value=\"35\" tooltext=\"评估时间: 20260201{br}评估领先率: 35％\" />\n"
            L"        <set label=\"20260301\" value=\"12\" tooltext=\"评估时间: 20260301{br}评估领先率: 12％\" />\n"
            L"    </dataset>\n"
            L"</chart>\n"));
}

TEST(HomePageAssessGraphTest, NoRowsLeaveTheDefaultAxisAndShortRowsReadZero) {
    CHomePageAssessGraph chart("a.swf", "a.xml");
    std::string xml;
    chart.GenGraphXml({}, xml);
    EXPECT_NE(xml.find("showLegend=\"1\" yAxisMinValue=\"100\" yAxisMaxValue=\"0\">\n"
                       "    <categories />\n"),
              std::string::npos);

    chart.GenGraphXml({{L"1001", L"20260401"}, {L"1001"}}, xml);
    EXPECT_NE(xml.find("yAxisMinValue=\"0\" yAxisMaxValue=\"0\">"), std::string::npos);
    EXPECT_NE(xml.find(Gbk(L"<set label=\"0\" value=\"0\" tooltext=\"评估时间: 0{br}评估领先率: 0％\" />\n"
                           L"        <set label=\"20260401\" value=\"0\"")),
              std::string::npos);
}

}  // namespace
