// The chart of the body-mass-index gauge.
#pragma once

#include "GraphFlash.h"

class CBmiTool : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CBmiTool(const char* moviePath, const char* dataPath);
};
