// The base of the chart data writers. Every chart is drawn by a chart movie from an
// XML document (root "chart") that a writer builds; the writer first assigns its
// chart's values to the members below, then copies them onto the document, so the
// values stay in the object between calls.
#pragma once

#include <string>

class TiXmlDocument;

class CGraphFlash {
public:
    CGraphFlash() = default;
    virtual ~CGraphFlash() = default;
    CGraphFlash(const CGraphFlash&) = delete;
    CGraphFlash& operator=(const CGraphFlash&) = delete;

    // Empty for the charts; a writer with more state overrides it.
    virtual void Init() {}

protected:
    // The document as the XML library prints it: four spaces per level, one element
    // per line, no declaration.
    static std::string PrintDocument(const TiXmlDocument& document);

    std::string m_docName;
    std::string m_caption;
    std::string m_animation;
    std::string m_showValues;
    std::string m_canvasPadding;
    std::string m_chartLeftMargin;
    std::string m_chartRightMargin;
    std::string m_chartTopMargin;
    std::string m_chartBottomMargin;
    std::string m_numberSuffix;
    std::string m_showLegend;
    std::string m_legendBgAlpha;
    std::string m_canvasBgAlpha;
    std::string m_bgColor;
    std::string m_bgAlpha;
    std::string m_showBorder;
    std::string m_showCanvasBg;
    std::string m_showCanvasBase;
    std::string m_canvasBaseDepth;
    std::string m_canvasBorderAlpha;
    std::string m_showYAxisValues;
    std::string m_yAxisMinValue;
    std::string m_yAxisMaxValue;
    std::string m_lineThickness;
    std::string m_numDivLines;
    std::string m_formatNumberScale;
};
