#include <gtest/gtest.h>

#include <string>

#include "GraphTestSupport.h"
#include "UserOpPopGraph.h"

namespace {

const std::wstring kRoot =
    L"<chart baseFont=\"宋体\" caption=\"\" animation=\"1\" showValues=\"\" bgColor=\"0\" bgAlpha=\"0\" "
    L"showBorder=\"0\" "
    L"numDivLines=\"\" showCanvasBg=\"0\" showCanvasBase=\"0\" canvasBaseDepth=\"0\" chartLeftMargin=\"4\" "
    L"chartRightMargin=\"4\" chartTopMargin=\"4\" chartBottomMargin=\"4\" numberSuffix=\"%25\"";

TEST(UserOpPopGraphTest, OneSlicePerRowWithTheUnassignedAttributesEmpty) {
    CUserOpPopGraph chart("../graph/userOpPop/userOpPop.swf", "../graph/userOpPop/data.xml");
    std::string xml;
    chart.GenGraphXml({{L"办公", L"abc", L"3600"}, {L"游戏", L"25", L"900"}, {L"浏览"}}, xml);
    EXPECT_EQ(
        xml,
        Gbk(kRoot +
            L">\n"
            L"    <set label=\"办公\" value=\"0\" tooltext=\"程序分类: 办公{br}所占比例: 0％{br}所占时间: 3600秒\" />\n"
            L"    <set label=\"游戏\" value=\"25\" tooltext=\"程序分类: 游戏{br}所占比例: 25％{br}所占时间: 900秒\" "
            L"/>\n"
            L"    <set label=\"浏览\" value=\"0\" tooltext=\"程序分类: 浏览{br}所占比例: 0％{br}所占时间: 0秒\" />\n"
            L"</chart>\n"));

    chart.GenGraphXml({}, xml);
    EXPECT_EQ(xml, Gbk(kRoot + L" />\n"));
}

}  // namespace
