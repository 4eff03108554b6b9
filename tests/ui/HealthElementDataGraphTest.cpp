#include <gtest/gtest.h>

#include <string>

#include "GraphTestSupport.h"
#include "HealthElementDataGraph.h"

namespace {

class HealthElementDataGraphTest : public ::testing::Test {
protected:
    std::string Write(const wchar_t* options, const wchar_t* records) {
        std::string xml;
        EXPECT_EQ(chart_.GenGraphXml(Json(options), Json(records), xml), 0);
        return xml;
    }
    static std::string Axis(const std::string& xml) {
        const auto at = xml.find(" yAxisMinValue=");
        return at == std::string::npos ? "" : xml.substr(at, xml.find('>') - at);
    }

    CHealthElementDataGraph chart_{"../graph/healthElementData/healthElementData.swf",
                                   "../graph/healthElementData/healthElementData.xml"};
};

TEST_F(HealthElementDataGraphTest, OneDecimalValuesLabelsToTheSecondAndTheAxisAtOneDecimal) {
    const std::string xml =
        Write(LR"([{"caption": "体重", "animation": "0", "showLegend": "0"}])",
              LR"([{"recDate": "2024-05-01", "valueGeneratedTime": "2024-05-01 10:20:05.678", "valueNo": 653,
                    "decLen": 1, "value": "65.3", "unitName": "kg"},
                   {"recDate": "2024-05-02", "valueGeneratedTime": "2024-05-02 08:00:00", "valueNo": 700,
                    "decLen": 1, "value": "70.0", "unitName": "g"}])");
    // Axis: 65.3 and 70.0 widened by 0.3 of their distance (1.41).
    EXPECT_EQ(xml, Gbk(L"<chart caption=\"体重\" animation=\"0\" showValues=\"1\" bgAlpha=\"1\" showBorder=\"0\" "
                       L"numDivLines=\"0\" showCanvasBg=\"1\" formatNumberScale=\"0\" canvaspadding=\"0\" "
                       L"canvasBgAlpha=\"1\" canvasBorderAlpha=\"1\" showYAxisValues=\"0\" showLegend=\"0\" "
                       L"legendBgAlpha=\"100\" palette=\"1\" lineColor=\"EE30A7\" yAxisMinValue=\"63.9\" "
                       L"yAxisMaxValue=\"71.4\">\n"
                       L"    <categories>\n"
                       L"        <category label=\"2024-05-01\" />\n"
                       L"        <category label=\"2024-05-02\" />\n"
                       L"    </categories>\n"
                       L"    <dataset seriesName=\"体重\">\n"
                       L"        <set label=\"2024-05-01 10:20:05\" value=\"65.3\" "
                       L"tooltext=\"发生时间: 2024-05-01 10:20:05{br}最新值: 65.3kg\" />\n"
                       L"        <set label=\"2024-05-02 08:00:00\" value=\"70.0\" "
                       L"tooltext=\"发生时间: 2024-05-02 08:00:00{br}最新值: 70.0kg\" />\n"
                       L"    </dataset>\n"
                       L"</chart>\n"));
}

TEST_F(HealthElementDataGraphTest, EqualValuesGiveEqualAxisEnds) {
    const std::string xml = Write(L"[]", LR"([{"valueNo": 72}, {"valueNo": 72}])");
    EXPECT_EQ(Axis(xml), " yAxisMinValue=\"72\" yAxisMaxValue=\"72\"");
    // Without options the defaults show; without dates and texts the labels are empty.
    EXPECT_NE(xml.find("<chart caption=\"\" animation=\"1\" showValues=\"1\" "), std::string::npos);
    EXPECT_NE(xml.find("<set label=\"\" value=\"72\""), std::string::npos);
}

TEST_F(HealthElementDataGraphTest, TheDecimalCountIsKeptToSix) {
    const std::string xml = Write(L"[]", LR"([{"valueNo": 5, "decLen": 40}])");
    EXPECT_NE(xml.find("value=\"0.000005\""), std::string::npos);
    EXPECT_EQ(Axis(xml), " yAxisMinValue=\"0.000005\" yAxisMaxValue=\"0.000005\"");
    EXPECT_NE(Write(L"[]", LR"([{"valueNo": 5, "decLen": -2}])").find("value=\"5\""), std::string::npos);
}

TEST_F(HealthElementDataGraphTest, ARecordWithoutValueIsPlottedAtTheNoValueMarker) {
    // Kept as the chart engine has always been given it: the axis then reaches down to
    // the marker, 0.3 of the distance further.
    const std::string xml = Write(L"[]", LR"([{"recDate": "a"}, {"valueNo": 100}])");
    EXPECT_NE(xml.find("value=\"-29999\""), std::string::npos);
    EXPECT_EQ(Axis(xml), " yAxisMinValue=\"-39028\" yAxisMaxValue=\"9129\"");
}

TEST_F(HealthElementDataGraphTest, NoRecordsLeaveTheTextUntouched) {
    std::string xml = "kept";
    EXPECT_EQ(chart_.GenGraphXml(Json(L"[{}]"), Json(L"[]"), xml), -1);
    EXPECT_EQ(chart_.GenGraphXml(Json(L"[{}]"), Json(LR"({"valueNo": 1})"), xml), -1);  // not a list
    EXPECT_EQ(xml, "kept");
}

}  // namespace
