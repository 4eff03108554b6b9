// The blood-pressure chart: daily boxes per period of the day (or for the whole day),
// a box per measurement, or lines of systolic, diastolic and pulse; under every form the
// four shaded zones of the hypertension grades.
#pragma once

#include <string>
#include <vector>

#include "GraphFlash.h"

class ChartPrinter;

class CBloodPressureGraph : public CGraphFlash {
public:
    // The movie and data paths of the owner; the chart keeps neither.
    CBloodPressureGraph(const char* moviePath, const char* dataPath);

    // The page's options (first item: graphType, animation, showValues, showLegend, all,
    // afterWakeUp, normal, beforeAsleep, sumMode, showMaxRecNum) and one record per stored
    // result (dataDate, bpKbn, avgSystolic, avgDiastolic, avgPulse, recNum, bpLevel,
    // bpAssessNote, summary). An empty record list still gives the frame and the zones.
    // Returns 0.
    int GenGraphData(const uie::value& options, const uie::value& records, std::string& xmlOut);

private:
    struct Options;
    struct Record;  // one result as the page gave it, its texts converted when first printed
    struct Day;     // one distinct day and the first result of each period on it
    // One dataset of the daily box chart; a result's period gives its box colour too.
    struct Box {
        const wchar_t* name;  // null: the period's own name
        const char* color;
        int period;  // 0: any
    };
    static const Box kBoxes[4];  // in the order they are written; the whole day last

    static Options ReadOptions(const uie::value& option);
    // A record's day and period, and its other fields too when `allFields`; else those are read
    // when it is first printed.
    static Record ReadRecord(const uie::value& item, bool allFields);
    void SetRootAttributes(TiXmlElement& root, const uie::value& option, int graphType, bool many);
    static void WriteDailyBoxes(ChartPrinter& out, const Options& options, const std::vector<Record>& records);
    static void WriteDetailBoxes(ChartPrinter& out, const Options& options, const std::vector<Record>& records);
    static void WriteLines(ChartPrinter& out, const Options& options, const std::vector<Record>& records);
    static void WriteTrendZones(ChartPrinter& out);

    static void WriteBoxDataset(ChartPrinter& out, const Box& box, const Options& options,
                                const std::vector<Day>& days);
    // One category per result's day label, as many as the limit lets through.
    static void WriteCategories(ChartPrinter& out, const Options& options, const std::vector<const Record*>& labelled);
    static void WriteRecordCategories(ChartPrinter& out, const Options& options, const std::vector<Record>& records);
    // The tool-tip of one result into tip; the count line only in the summary form.
    static void Tooltip(std::string& tip, const Record& record, const std::string& periodName, bool withCount);
};
