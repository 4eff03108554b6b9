// The body-mass-index gauge; the gauge movie computes the index itself.
#pragma once

#include <string>

#include "GraphFlash.h"

class CBmiTool : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CBmiTool(const char* moviePath, const char* dataPath);

    // The first person of the list ("sex", "height" in cm, "weight" in tenths of a
    // kilogram, "caption"). -1 with xmlOut untouched when the list is empty, else 0.
    int GenBmiGraphXml(const uie::value& persons, std::string& xmlOut);
};
