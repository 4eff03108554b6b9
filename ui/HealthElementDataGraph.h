// The chart of the history of one health element.
#pragma once

#include "GraphFlash.h"

class CHealthElementDataGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CHealthElementDataGraph(const char* moviePath, const char* dataPath);
};
