#include "HealthElementDataGraph.h"

#include <tinyxml.h>

#include <algorithm>
#include <vector>

#include "ChartPrinter.h"

namespace {

constexpr int kNoValue = -29999;
constexpr std::size_t kLabelChars = 19;  // date and time to the second
// Both lines of a record with a short date, label and value: the document's usual size.
constexpr std::size_t kBytesPerRecord = 160;

}  // namespace

struct CHealthElementDataGraph::Value {
    float number = 0;
    int decimals = 0;
};

// One record as it is printed: its texts in the system code page, read once.
struct CHealthElementDataGraph::Row {
    std::string date;      // the category label
    std::string label;     // the time it was taken, to the second
    std::string given;     // the value as the page wrote it
    Value value;
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

CHealthElementDataGraph::Row CHealthElementDataGraph::ReadRow(const uie::value& record) {
    std::wstring generated = FieldText(record, L"valueGeneratedTime");
    if (generated.size() > kLabelChars) generated.resize(kLabelChars);
    return {FieldAnsi(record, L"recDate"), Ansi(generated), FieldAnsi(record, L"value"), ReadValue(record)};
}

void CHealthElementDataGraph::SetRootAttributes(TiXmlElement& root, const std::vector<Row>& rows) {
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
    float axisMin = 999999.0f;
    float axisMax = static_cast<float>(kNoValue);
    for (const Row& row : rows) {
        axisMin = std::min(axisMin, row.value.number);
        axisMax = std::max(axisMax, row.value.number);
    }
    const int decimals = rows.back().value.decimals;
    const float margin = static_cast<float>((axisMax - axisMin) * 0.3);
    SetAxis(root, FormatNumber(axisMin - margin, decimals), FormatNumber(axisMax + margin, decimals));
}

int CHealthElementDataGraph::GenGraphXml(const uie::value& options, const uie::value& records, std::string& xmlOut) {
    const std::size_t count = ItemCount(records);
    if (count == 0) return -1;
    std::lock_guard lock(WriteLock());
    const uie::value& option = Item(options, 0);
    m_caption = FieldAnsi(option, L"caption");
    ReadDisplayOptions(option);
    const std::string unit = FieldAnsi(Item(records, 0), L"unitName");
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

    std::vector<Row> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) rows.push_back(ReadRow(Item(records, i)));
    TiXmlElement root("chart");
    SetRootAttributes(root, rows);

    ChartPrinter out(xmlOut);
    out.Reserve(count * kBytesPerRecord);
    out.Open(root, true);
    out.Open(TiXmlElement("categories"), true);
    TiXmlElement category("category");  // one element for every row: each sets the same attributes
    for (const Row& row : rows) {
        SetAttributes(category, {{"label", row.date.c_str()}});
        out.Add(category);
    }
    out.Close();

    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", m_caption.c_str()}});
    out.Open(dataset, true);
    const std::string happened = Ansi(L"发生时间: ");
    const std::string latest = Ansi(L"{br}最新值: ");
    std::string tooltext;
    TiXmlElement set("set");  // one element for every row
    for (const Row& row : rows) {
        tooltext.assign(happened).append(row.label).append(latest).append(row.given).append(unit);
        SetAttributes(set, {{"label", row.label.c_str()},
                            {"value", FormatNumber(row.value.number, row.value.decimals).c_str()},
                            {"tooltext", tooltext.c_str()}});
        out.Add(set);
    }
    out.Close();
    out.Close();
    return 0;
}
