#include "UserOpPopGraph.h"

#include <tinyxml.h>

#include "Hooks.h"

CUserOpPopGraph::CUserOpPopGraph(const char*, const char*) { Init(); }

void CUserOpPopGraph::GenGraphXml(const SqlRows& rows, std::string& xmlOut) {
    std::lock_guard lock(WriteLock());
    m_animation = "1";
    m_bgColor = "0";
    m_bgAlpha = "0";
    m_showBorder = "0";
    m_showCanvasBg = "0";
    m_showCanvasBase = "0";
    m_canvasBaseDepth = "0";
    m_chartLeftMargin = m_chartRightMargin = m_chartTopMargin = m_chartBottomMargin = "4";
    m_numberSuffix = "%25";  // the chart engine's encoded percent sign

    // The caption, showValues and numDivLines are never assigned: they print empty.
    TiXmlElement root("chart");
    SetAttributes(root, {{"baseFont", Ansi(L"宋体").c_str()}});
    SetHeadAttributes(root);
    SetAttributes(root, {{"numberSuffix", m_numberSuffix.c_str()}});

    for (const auto& row : rows) {
        const std::wstring name = ColumnText(row, 0);
        const int percent = ColumnInt(row, 1);
        const int seconds = ColumnInt(row, 2);
        const std::string tooltext = Ansi(L"程序分类: " + name + L"{br}所占比例: " + std::to_wstring(percent) +
                                          L"％{br}所占时间: " + std::to_wstring(seconds) + L"秒");
        SetAttributes(
            AddChild(root, "set"),
            {{"label", Ansi(name).c_str()}, {"value", FormatInt(percent).c_str()}, {"tooltext", tooltext.c_str()}});
        Sleep(1);
    }
    xmlOut = Print(root);
}
