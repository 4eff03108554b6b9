// The pie chart of today's computer use per program type.
#pragma once

#include <string>

#include "GraphFlash.h"
#include "MyDatabase.h"

class CUserOpPopGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CUserOpPopGraph(const char* moviePath, const char* dataPath);

    // One slice per row, in row order: column 0 the program type's name, 1 its share
    // of the day in percent, 2 its seconds of use. Written into xmlOut as 8-bit text in
    // the system code page.
    void GenGraphXml(const SqlRows& rows, std::string& xmlOut);
};
