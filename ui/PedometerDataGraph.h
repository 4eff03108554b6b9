// The pedometer history chart: up to four bar series (steps, distance, energy, active
// time) over the days or periods the page asks for, and the target line.
#pragma once

#include <string>
#include <vector>

#include "GraphFlash.h"

class ChartPrinter;

// The pedometer window's current targets, handed in so the chart never reads the window.
struct struPedometerTargets {
    int step = 0;
    int distance = 0;  // metres
    int energy = 0;
    int duration = 0;  // seconds
};

class CPedometerDataGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CPedometerDataGraph(const char* moviePath, const char* dataPath);

    // The page's options (first item: seriesList, graphType, caption, animation,
    // showValues) and one record per column (recName, step, distance, energy in the
    // device's unit, duration, avgTarget). An empty record list still gives a
    // document. Returns 0.
    int GenGraphXml(const uie::value& options, const uie::value& records, const struPedometerTargets& targets,
                    std::string& xmlOut);

private:
    struct Day;     // one record as the page gave it
    struct Series;  // what one dataset plots

    // A dataset: its name and extra attributes, then one set per record with the extra
    // attributes of every set.
    static void WriteDataset(ChartPrinter& out, const Series& series, const std::vector<Day>& days,
                             const std::vector<Attribute>& datasetExtra, const std::vector<Attribute>& setExtra);
};
