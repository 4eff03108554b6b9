#include "HealthElementDataGraph.h"

#include <tinyxml.h>

#include <algorithm>

namespace {

constexpr int kNoValue = -29999;
constexpr std::size_t kLabelChars = 19;  // date and time to the second

}  // namespace

CHealthElementDataGraph::CHealthElementDataGraph(const char*, const char*) { Init(); }

int CHealthElementDataGraph::GenGraphXml(const uie::value& options, const uie::value& records, std::string& xmlOut) {
    const std::size_t count = ItemCount(records);
    if (count == 0) return -1;
    std::lock_guard lock(WriteLock());
    const uie::value option = Item(options, 0);
    m_caption = Ansi(FieldText(option, L"caption"));
    ReadDisplayOptions(option);
    const std::wstring unit = FieldText(Item(records, 0), L"unitName");
    m_bgAlpha = "1";
    m_showBorder = "0";
    m_numDivLines = "0";
    m_showCanvasBg = "1";
    m_formatNumberScale = "0";
    m_canvasPadding = "0";
    m_canvasBgAlpha = "1";
    m_canvasBorderAlpha = "1";
    m_showYAxisValues = "0";
    m_legendBgAlpha = "100";

    TiXmlElement root("chart");
    SetAttributes(root, {{"caption", m_caption.c_str()},
                         {"animation", m_animation.c_str()},
                         {"showValues", m_showValues.c_str()},
                         {"bgAlpha", m_bgAlpha.c_str()},
                         {"showBorder", m_showBorder.c_str()},
                         {"numDivLines", m_numDivLines.c_str()},
                         {"showCanvasBg", m_showCanvasBg.c_str()},
                         {"formatNumberScale", m_formatNumberScale.c_str()},
                         {"canvaspadding", m_canvasPadding.c_str()},
                         {"canvasBgAlpha", m_canvasBgAlpha.c_str()},
                         {"canvasBorderAlpha", m_canvasBorderAlpha.c_str()},
                         {"showYAxisValues", m_showYAxisValues.c_str()},
                         {"showLegend", m_showLegend.c_str()},
                         {"legendBgAlpha", m_legendBgAlpha.c_str()},
                         {"palette", "1"},
                         {"lineColor", "EE30A7"}});

    TiXmlElement categories("categories");
    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", m_caption.c_str()}});
    float axisMin = 999999.0f;
    float axisMax = static_cast<float>(kNoValue);
    int decimals = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uie::value record = Item(records, i);
        TiXmlElement category("category");
        SetAttributes(category, {{"label", Ansi(FieldText(record, L"recDate")).c_str()}});
        categories.InsertEndChild(category);

        // The page's decimal count builds the number format: kept to what a float holds.
        decimals = ClampDecimals(FieldInt(record, L"decLen", 0));
        float number = static_cast<float>(FieldInt(record, L"valueNo", kNoValue));
        for (int d = 0; d < decimals; ++d) number /= 10;
        axisMin = std::min(axisMin, number);
        axisMax = std::max(axisMax, number);

        std::wstring label = FieldText(record, L"valueGeneratedTime");
        if (label.size() > kLabelChars) label.resize(kLabelChars);
        const std::string tooltext = Ansi(L"发生时间: " + label + L"{br}最新值: " + FieldText(record, L"value") + unit);
        TiXmlElement set("set");
        SetAttributes(set, {{"label", Ansi(label).c_str()},
                            {"value", FormatNumber(number, decimals).c_str()},
                            {"tooltext", tooltext.c_str()}});
        dataset.InsertEndChild(set);
    }
    root.InsertEndChild(categories);
    root.InsertEndChild(dataset);

    const float margin = static_cast<float>((axisMax - axisMin) * 0.3);
    SetAxis(root, FormatNumber(axisMin - margin, decimals), FormatNumber(axisMax + margin, decimals));
    xmlOut = Print(root);
    return 0;
}
