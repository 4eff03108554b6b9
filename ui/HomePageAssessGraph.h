// The home page's chart of the recent health assessments.
#pragma once

#include <mutex>
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
    // Pages of several windows may ask at once: one document is written at a time.
    void GenGraphXml(const SqlRows& rows, std::string& xmlOut);

private:
    std::mutex m_lock;  // the attribute members while a document is written
};
