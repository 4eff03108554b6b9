#include <gtest/gtest.h>

#include <string>

#include "GraphTestSupport.h"
#include "PedometerDataGraph.h"

namespace {

class PedometerDataGraphTest : public ::testing::Test {
protected:
    std::string Write(const std::wstring& options, const std::wstring& records, struPedometerTargets targets = {}) {
        std::string xml;
        EXPECT_EQ(chart_.GenGraphXml(Json(options), Json(records), targets, xml), 0);
        return xml;
    }
    // The record list of n days named 1..n.
    static std::wstring Days(int n) {
        std::wstring list = L"[";
        for (int i = 1; i <= n; ++i) list += (i > 1 ? L"," : L"") + (L"{\"recName\": \"" + std::to_wstring(i) + L"\"}");
        return list + L"]";
    }
    // The dataset openings, in order.
    static std::string Datasets(const std::string& xml) {
        std::string found;
        for (auto at = xml.find("<dataset"); at != std::string::npos; at = xml.find("<dataset", at + 1)) {
            found += xml.substr(at, xml.find('>', at) + 1 - at) + "\n";
        }
        return found;
    }

    CPedometerDataGraph chart_{"../graph/pedometerData/pedometerData.swf", "../graph/pedometerData/data.xml"};
};

TEST_F(PedometerDataGraphTest, StepsAndEnergyInGraphTypeOneWithTheTargetLine) {
    const std::string xml = Write(
        LR"([{"seriesList": "step,energy", "graphType": "1", "caption": "本周", "animation": "0", "showLegend": "0"}])",
        LR"([{"recName": "周一", "step": 8000, "distance": 5000, "energy": 12345, "duration": 3600, "avgTarget": 10000},
                   {"recName": "周二", "step": 6000, "energy": 999, "avgTarget": 10000}])",
        {.step = 10000});
    EXPECT_EQ(xml,
              Gbk(L"<chart caption=\"本周\" animation=\"0\" showValues=\"1\" bgColor=\"\" bgAlpha=\"\" showBorder=\"\" "
                  L"numDivLines=\"0\" showCanvasBg=\"\" showCanvasBase=\"0\" canvasBaseDepth=\"0\" "
                  L"chartLeftMargin=\"4\" chartRightMargin=\"4\" chartTopMargin=\"4\" chartBottomMargin=\"4\" "
                  L"formatNumber=\"0\" formatNumberScale=\"0\" canvasPadding=\"5\" lineThickness=\"1\" "
                  L"canvasBgAlpha=\"0\" canvasBorderAlpha=\"0\" showYAxisValues=\"0\" showLegend=\"1\" "
                  L"legendAllowDrag=\"1\" showAlternateVGridColor=\"1\" useRoundEdges=\"1\">\n"
                  L"    <categories>\n"
                  L"        <category label=\"周一\" />\n"
                  L"        <category label=\"周二\" />\n"
                  L"    </categories>\n"
                  L"    <dataset seriesName=\"运动步数\" plotSpacePercent=\"70\">\n"
                  L"        <set label=\"周一\" value=\"8000\" tooltext=\"运动日期: 周一{br}运动步数: 8000步\" "
                  L"showName=\"运动步数\" plotSpacePercent=\"70\" />\n"
                  L"        <set label=\"周二\" value=\"6000\" tooltext=\"运动日期: 周二{br}运动步数: 6000步\" "
                  L"showName=\"运动步数\" plotSpacePercent=\"70\" />\n"
                  L"    </dataset>\n"
                  L"    <dataset seriesName=\"消耗热量\" showValues=\"0\">\n"
                  L"        <set label=\"周一\" value=\"120.0\" tooltext=\"运动日期: 周一{br}消耗热量: 12.0千卡\" />\n"
                  L"        <set label=\"周二\" value=\"0.0\" tooltext=\"运动日期: 周二{br}消耗热量: 0.0千卡\" />\n"
                  L"    </dataset>\n"
                  L"    <dataset seriesName=\"运动目标\" color=\"00FF00\" showValues=\"0\" renderAs=\"Line\">\n"
                  L"        <set label=\"周一\" value=\"10000\" tooltext=\"运动日期: 周一{br}运动目标: 10000 步\" />\n"
                  L"        <set label=\"周二\" value=\"10000\" tooltext=\"运动日期: 周二{br}运动目标: 10000 步\" />\n"
                  L"    </dataset>\n"
                  L"</chart>\n"));
}

TEST_F(PedometerDataGraphTest, OnlyTheFirstSeriesShownPrintsValuesInGraphTypeOne) {
    const std::wstring records = LR"([{"recName": "a", "distance": 10, "duration": 20}])";
    EXPECT_EQ(Datasets(Write(LR"([{"seriesList": "duration distance energy"}])", records)),
              Gbk(L"<dataset seriesName=\"运动距离\">\n"
                  L"<dataset seriesName=\"消耗热量\" showValues=\"0\">\n"
                  L"<dataset seriesName=\"有效时长\" showValues=\"0\">\n"));
    EXPECT_EQ(Datasets(Write(LR"([{"seriesList": "distance,duration", "graphType": 2}])", records)),
              Gbk(L"<dataset seriesName=\"运动距离\">\n"
                  L"<dataset seriesName=\"有效时长\">\n"));
}

TEST_F(PedometerDataGraphTest, MoreThanTwentyRecordsHideValuesAndAddDivisionLines) {
    const std::wstring options = LR"([{"seriesList": "step", "showValues": "1"}])";
    EXPECT_NE(
        Write(options, Days(21)).find("showValues=\"0\" bgColor=\"\" bgAlpha=\"\" showBorder=\"\" numDivLines=\"5\""),
        std::string::npos);
    EXPECT_NE(
        Write(options, Days(20)).find("showValues=\"1\" bgColor=\"\" bgAlpha=\"\" showBorder=\"\" numDivLines=\"0\""),
        std::string::npos);
}

TEST_F(PedometerDataGraphTest, TheTargetLineNeedsATargetOfAShownSeries) {
    const std::wstring records = LR"([{"recName": "a", "avgTarget": 8000}])";
    const struPedometerTargets all = {.step = 8000, .distance = 5000, .energy = 300, .duration = 1800};
    // The words are matched as written: no series, categories only.
    EXPECT_EQ(Datasets(Write(LR"([{"seriesList": "Step, Distance"}])", records, all)), "");
    EXPECT_EQ(Datasets(Write(LR"([{"seriesList": "step,distance"}])", records)),
              Gbk(L"<dataset seriesName=\"运动步数\" plotSpacePercent=\"70\">\n"
                  L"<dataset seriesName=\"运动距离\" showValues=\"0\">\n"));
    EXPECT_EQ(Datasets(Write(LR"([{"seriesList": "step"}])", records, {.distance = 5000})),
              Gbk(L"<dataset seriesName=\"运动步数\" plotSpacePercent=\"70\">\n"));
    EXPECT_NE(Write(LR"([{"seriesList": "duration"}])", records, {.duration = 1}).find(Gbk(L"seriesName=\"运动目标\"")),
              std::string::npos);
}

TEST_F(PedometerDataGraphTest, NoRecordsStillGiveTheFrame) {
    const std::string xml = Write(LR"([{"seriesList": "step"}])", L"[]", {.step = 1});
    EXPECT_NE(
        xml.find(Gbk(L"    <categories />\n"
                     L"    <dataset seriesName=\"运动步数\" plotSpacePercent=\"70\" />\n"
                     L"    <dataset seriesName=\"运动目标\" color=\"00FF00\" showValues=\"0\" renderAs=\"Line\" />\n"
                     L"</chart>\n")),
        std::string::npos);
    EXPECT_NE(Write(L"{}", L"{}").find("<categories />"), std::string::npos);  // not lists: empty
}

}  // namespace
