#include "HealthElementDataGraph.h"

#include <tinyxml.h>

#include <algorithm>
#include <vector>

#include "ChartPrinter.h"

namespace {

constexpr int kNoValue = -29999;
constexpr std::size_t kLabelChars = 19;  // date and time to the second

}  // namespace

struct CHealthElementDataGraph::Value {
    float number = 0;
    int decimals = 0;
};

CHealthElementDataGraph::CHealthElementDataGraph(const char*, const char*) { Init(); }

CHealthElementDataGraph::Value CHealthElementDataGraph::ReadValue(const uie::value& record) {
    // The page's decimal count builds the number format: kept to what a float holds.
    Value v;
    v.decimals = ClampDecimals(FieldInt(record, L"decLen", 0));
    v.number = static_cast<float>(FieldInt(record, L"valueNo", kNoValue));
    for (int d = 0; d < v.decimals; ++d) v.number /= 10;
    return v;
}

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

    // The axis follows every value and is printed with the root, before any record.
    std::vector<Value> values(count);
    float axisMin = 999999.0f;
    float axisMax = static_cast<float>(kNoValue);
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = ReadValue(Item(records, i));
        axisMin = std::min(axisMin, values[i].number);
        axisMax = std::max(axisMax, values[i].number);
    }
    const int decimals = values.back().decimals;
    const float margin = static_cast<float>((axisMax - axisMin) * 0.3);
    SetAxis(root, FormatNumber(axisMin - margin, decimals), FormatNumber(axisMax + margin, decimals));

    ChartPrinter out;
    out.Open(root, true);
    out.Open(TiXmlElement("categories"), true);
    TiXmlElement category("category");  // one element for every row: each sets the same attributes
    for (std::size_t i = 0; i < count; ++i) {
        SetAttributes(category, {{"label", Ansi(FieldText(Item(records, i), L"recDate")).c_str()}});
        out.Add(category);
    }
    out.Close();

    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", m_caption.c_str()}});
    out.Open(dataset, true);
    const std::string happened = Ansi(L"发生时间: ");
    const std::string latest = Ansi(L"{br}最新值: ");
    const std::string unitText = Ansi(unit);
    std::string tooltext;
    TiXmlElement set("set");  // one element for every row
    for (std::size_t i = 0; i < count; ++i) {
        const uie::value record = Item(records, i);
        std::wstring generated = FieldText(record, L"valueGeneratedTime");
        if (generated.size() > kLabelChars) generated.resize(kLabelChars);
        const std::string label = Ansi(generated);
        tooltext.assign(happened)
            .append(label)
            .append(latest)
            .append(Ansi(FieldText(record, L"value")))
            .append(unitText);
        SetAttributes(set, {{"label", label.c_str()},
                            {"value", FormatNumber(values[i].number, values[i].decimals).c_str()},
                            {"tooltext", tooltext.c_str()}});
        out.Add(set);
    }
    out.Close();
    out.Close();
    xmlOut = out.Text();
    return 0;
}
