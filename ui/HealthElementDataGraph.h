// The chart of the history of one health element.
#pragma once

#include <string>
#include <vector>

#include "GraphFlash.h"

class CHealthElementDataGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CHealthElementDataGraph(const char* moviePath, const char* dataPath);

    // The page's chart options (first item: caption, animation, showValues, showLegend)
    // and value records (recDate, valueGeneratedTime, valueNo, decLen, value, unitName),
    // first to last. -1 with xmlOut untouched when there is no record, else 0.
    int GenGraphXml(const uie::value& options, const uie::value& records, std::string& xmlOut);

private:
    struct Value;  // a record's number and its decimals
    struct Row;    // a record as it is printed
    static Value ReadValue(const uie::value& record);
    static Row ReadRow(const uie::value& record);
    // The chart's settings from the members, then the value axis over every row.
    void SetRootAttributes(TiXmlElement& root, const std::vector<Row>& rows);
};
