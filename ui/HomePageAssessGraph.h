// The home page's chart of the recent health assessments.
#pragma once

#include <string>

#include "GraphFlash.h"
#include "MyDatabase.h"

class CHomePageAssessGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CHomePageAssessGraph(const char* moviePath, const char* dataPath);

    // Writes the chart for tUserAssessReport rows given newest first into xmlOut, as
    // 8-bit text in the system code page. Column 1 is the assessment date, 2 the
    // score, 3 the leading rate in percent; both series are written oldest first.
    void GenGraphXml(const SqlRows& rows, std::string& xmlOut);

private:
    // One series at the end of root, oldest first; the axis follows every plotted value.
    static void AddDataset(TiXmlElement& root, const SqlRows& rows, const wchar_t* seriesName, std::size_t valueColumn,
                           const wchar_t* valueLine, const wchar_t* suffix, int& axisMin, int& axisMax);
};
