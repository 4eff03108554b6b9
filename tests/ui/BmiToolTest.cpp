#include <gtest/gtest.h>

#include <string>

#include "BmiTool.h"
#include "GraphTestSupport.h"

namespace {

class BmiToolTest : public ::testing::Test {
protected:
    std::string Write(const wchar_t* persons) {
        std::string xml;
        EXPECT_EQ(bmi_.GenBmiGraphXml(Json(persons), xml), 0);
        return xml;
    }

    CBmiTool bmi_{"../graph/bmi/bmi.swf", "../graph/bmi/bmiData.xml"};
};

TEST_F(BmiToolTest, WeightInTenthsAndTheFirstPersonOnly) {
    EXPECT_EQ(Write(LR"([{"sex": 1, "height": 172, "weight": 653, "caption": "我的指数"}, {"sex": 0}])"),
              Gbk(L"<quorvix caption=\"我的指数\" sex=\"1\" weight=\"65.3\" height=\"172\" />\n"));
}

TEST_F(BmiToolTest, MissingOrUnknownMeasuresShowTheSameDefaultGauge) {
    const std::string unknown = Gbk(L"<quorvix caption=\"体重指数\" sex=\"0\" weight=\"53.0\" height=\"165\" />\n");
    EXPECT_EQ(Write(LR"([{"sex": 2, "weight": -29999}])"), unknown);
    EXPECT_EQ(Write(LR"([{"height": -29999}])"), unknown);
    EXPECT_EQ(Write(LR"([{"sex": "1", "weight": "653", "height": "x"}])"), unknown);  // texts are not numbers
}

TEST_F(BmiToolTest, NoPersonLeavesTheTextUntouched) {
    std::string xml = "kept";
    EXPECT_EQ(bmi_.GenBmiGraphXml(Json(L"[]"), xml), -1);
    EXPECT_EQ(bmi_.GenBmiGraphXml(Json(LR"({"weight": 600})"), xml), -1);
    EXPECT_EQ(xml, "kept");
}

}  // namespace
