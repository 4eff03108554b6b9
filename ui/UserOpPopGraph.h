// The chart of the today's computer use per program type.
#pragma once

#include "GraphFlash.h"

class CUserOpPopGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CUserOpPopGraph(const char* moviePath, const char* dataPath);
};
