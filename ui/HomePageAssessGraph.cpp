#include "HomePageAssessGraph.h"

#include <tinyxml.h>

#include <algorithm>

CHomePageAssessGraph::CHomePageAssessGraph(const char*, const char*) { Init(); }

void CHomePageAssessGraph::AddDataset(TiXmlElement& root, const SqlRows& rows, const wchar_t* seriesName,
                                      std::size_t valueColumn, const wchar_t* valueLine, const wchar_t* suffix,
                                      int& axisMin, int& axisMax) {
    TiXmlElement& dataset = AddChild(root, "dataset");
    SetAttributes(dataset, {{"seriesName", Ansi(seriesName).c_str()}});
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int date = ColumnInt(*it, 1);
        const int value = ColumnInt(*it, valueColumn);
        axisMin = std::min(axisMin, value);
        axisMax = std::max(axisMax, value);
        const std::string tooltext =
            Ansi(L"评估时间: " + std::to_wstring(date) + L"{br}" + valueLine + std::to_wstring(value) + suffix);
        SetAttributes(
            AddChild(dataset, "set"),
            {{"label", FormatInt(date).c_str()}, {"value", FormatInt(value).c_str()}, {"tooltext", tooltext.c_str()}});
    }
}

void CHomePageAssessGraph::GenGraphXml(const SqlRows& rows, std::string& xmlOut) {
    std::lock_guard lock(WriteLock());
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

    TiXmlElement root("chart");
    SetHeadAttributes(root);
    SetAttributes(root, {{"formatNumberScale", m_formatNumberScale.c_str()},
                         {"canvaspadding", m_canvasPadding.c_str()},
                         {"lineThickness", m_lineThickness.c_str()},
                         {"canvasBgAlpha", m_canvasBgAlpha.c_str()},
                         {"canvasBorderAlpha", m_canvasBorderAlpha.c_str()},
                         {"showYAxisValues", m_showYAxisValues.c_str()},
                         {"showLegend", m_showLegend.c_str()}});

    TiXmlElement& categories = AddChild(root, "categories");
    for (std::size_t i = 0; i < rows.size(); ++i) SetAttributes(AddChild(categories, "category"), {{"label", ""}});

    int axisMin = 100;
    int axisMax = 0;
    AddDataset(root, rows, L"评估得分", 2, L"评估得分: ", L"", axisMin, axisMax);
    AddDataset(root, rows, L"评估领先率", 3, L"评估领先率: ", L"％", axisMin, axisMax);
    SetAxis(root, FormatInt(axisMin), FormatInt(axisMax));
    xmlOut = Print(root);
}
