#include "HomePageAssessGraph.h"

#include <tinyxml.h>

#include <algorithm>
#include <vector>

#include "Text.h"

namespace {

int Column(const std::vector<std::wstring>& row, std::size_t i) {
    return i < row.size() ? text::WToI(row[i].c_str()) : 0;
}

std::string Ansi(const std::wstring& s) { return text::ToAnsi(s); }

// One series, oldest first; the axis follows every plotted value.
TiXmlElement Dataset(const SqlRows& rows, const wchar_t* seriesName, std::size_t valueColumn,
                     const wchar_t* valueLine, const wchar_t* suffix, int& axisMin, int& axisMax) {
    TiXmlElement dataset("dataset");
    dataset.SetAttribute("seriesName", Ansi(seriesName));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int date = Column(*it, 1);
        const int value = Column(*it, valueColumn);
        axisMin = std::min(axisMin, value);
        axisMax = std::max(axisMax, value);
        TiXmlElement set("set");
        set.SetAttribute("label", std::to_string(date));
        set.SetAttribute("value", std::to_string(value));
        set.SetAttribute("tooltext", Ansi(L"评估时间: " + std::to_wstring(date) + L"{br}" + valueLine +
                                          std::to_wstring(value) + suffix));
        dataset.InsertEndChild(set);
    }
    return dataset;
}

}  // namespace

CHomePageAssessGraph::CHomePageAssessGraph(const char*, const char*) { Init(); }

void CHomePageAssessGraph::GenGraphXml(const SqlRows& rows, std::string& xmlOut) {
    std::lock_guard lock(m_lock);
    m_caption = Ansi(L"近期健康评估趋势");
    m_animation = "1";
    m_showValues = "0";
    m_bgColor = "0";
    m_bgAlpha = "0";
    m_showBorder = "0";
    m_numDivLines = "0";
    m_showCanvasBg = "0";
    m_showCanvasBase = "0";
    m_canvasBaseDepth = "0";
    m_chartLeftMargin = m_chartRightMargin = m_chartTopMargin = m_chartBottomMargin = "4";
    m_formatNumberScale = "0";
    m_canvasPadding = "0";
    m_lineThickness = "1";
    m_canvasBgAlpha = "0";
    m_canvasBorderAlpha = "0";
    m_showYAxisValues = "0";
    m_showLegend = "1";

    TiXmlDocument document(m_docName);
    TiXmlElement root("chart");
    root.SetAttribute("caption", m_caption);
    root.SetAttribute("animation", m_animation);
    root.SetAttribute("showValues", m_showValues);
    root.SetAttribute("bgColor", m_bgColor);
    root.SetAttribute("bgAlpha", m_bgAlpha);
    root.SetAttribute("showBorder", m_showBorder);
    root.SetAttribute("numDivLines", m_numDivLines);
    root.SetAttribute("showCanvasBg", m_showCanvasBg);
    root.SetAttribute("showCanvasBase", m_showCanvasBase);
    root.SetAttribute("canvasBaseDepth", m_canvasBaseDepth);
    root.SetAttribute("chartLeftMargin", m_chartLeftMargin);
    root.SetAttribute("chartRightMargin", m_chartRightMargin);
    root.SetAttribute("chartTopMargin", m_chartTopMargin);
    root.SetAttribute("chartBottomMargin", m_chartBottomMargin);
    root.SetAttribute("formatNumberScale", m_formatNumberScale);
    root.SetAttribute("canvaspadding", m_canvasPadding);
    root.SetAttribute("lineThickness", m_lineThickness);
    root.SetAttribute("canvasBgAlpha", m_canvasBgAlpha);
    root.SetAttribute("canvasBorderAlpha", m_canvasBorderAlpha);
    root.SetAttribute("showYAxisValues", m_showYAxisValues);
    root.SetAttribute("showLegend", m_showLegend);

    TiXmlElement categories("categories");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        TiXmlElement category("category");
        category.SetAttribute("label", "");
        categories.InsertEndChild(category);
    }
    root.InsertEndChild(categories);

    int axisMin = 100;
    int axisMax = 0;
    root.InsertEndChild(Dataset(rows, L"评估得分", 2, L"评估得分: ", L"", axisMin, axisMax));
    root.InsertEndChild(Dataset(rows, L"评估领先率", 3, L"评估领先率: ", L"％", axisMin, axisMax));
    // Set after the children, so the axis comes last among the root's attributes.
    m_yAxisMinValue = std::to_string(axisMin);
    m_yAxisMaxValue = std::to_string(axisMax);
    root.SetAttribute("yAxisMinValue", m_yAxisMinValue);
    root.SetAttribute("yAxisMaxValue", m_yAxisMaxValue);

    document.InsertEndChild(root);
    xmlOut = PrintDocument(document);
}
