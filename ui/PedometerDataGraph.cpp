#include "PedometerDataGraph.h"

#include <tinyxml.h>

#include <iterator>

#include "ChartPrinter.h"
#include "Text.h"

namespace {

constexpr std::size_t kManyRecords = 20;  // beyond this, values would crowd the bars
constexpr int kQuietGraphType = 1;        // only the first series shown prints values
// A record's lines in every series, the target line and the categories: room enough, as
// the document's text is reserved once and only the part written is ever touched.
constexpr std::size_t kBytesPerRecord = 768;

}  // namespace

struct CPedometerDataGraph::Day {
    std::string label;  // the name in the system code page
    int step = 0;
    int distance = 0;
    int energy = 0;
    int duration = 0;
    int target = 0;

    // Whole kilocalories; a double, since "%.1f" of an int is undefined.
    double Kilocalories() const { return energy / 1000; }
};

// The tool-tip's line after the date is the caption, the number and the unit. Its words are
// converted to the system code page once per dataset, not once per record: the code page
// has no shift state, so the pieces convert to the bytes of the whole line.
struct CPedometerDataGraph::Series {
    const wchar_t* word;  // names the series in the page's seriesList
    const wchar_t* name;
    std::string (*value)(const Day& day);
    const wchar_t* tipCaption;
    std::string (*tipNumber)(const Day& day);
    const wchar_t* tipUnit;
};

CPedometerDataGraph::CPedometerDataGraph(const char*, const char*) { Init(); }

void CPedometerDataGraph::WriteDataset(ChartPrinter& out, const Series& series, const std::vector<Day>& days,
                                       const std::vector<Attribute>& datasetExtra,
                                       const std::vector<Attribute>& setExtra) {
    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", Ansi(series.name).c_str()}});
    for (const Attribute& a : datasetExtra) SetAttributes(dataset, {a});
    out.Open(dataset, !days.empty());
    const std::string date = Ansi(L"运动日期: ");
    const std::string caption = "{br}" + Ansi(series.tipCaption);
    const std::string unit = Ansi(series.tipUnit);
    std::string tooltext;
    TiXmlElement set("set");  // one element for every row: each sets the same attributes
    for (const Day& day : days) {
        tooltext.assign(date).append(day.label).append(caption).append(series.tipNumber(day)).append(unit);
        SetAttributes(
            set, {{"label", day.label.c_str()}, {"value", series.value(day).c_str()}, {"tooltext", tooltext.c_str()}});
        for (const Attribute& a : setExtra) SetAttributes(set, {a});
        out.Add(set);
    }
    out.Close();
}

int CPedometerDataGraph::GenGraphXml(const uie::value& options, const uie::value& records,
                                     const struPedometerTargets& targets, std::string& xmlOut) {
    static constexpr auto kStep = [](const Day& d) { return FormatInt(d.step); };
    static constexpr auto kDistance = [](const Day& d) { return FormatInt(d.distance); };
    static constexpr auto kDuration = [](const Day& d) { return FormatInt(d.duration); };
    static constexpr auto kTarget = [](const Day& d) { return FormatInt(d.target); };
    static const Series kBars[] = {
        {L"step", L"运动步数", kStep, L"运动步数: ", kStep, L"步"},
        {L"distance", L"运动距离", kDistance, L"运动距离: ", kDistance, L"米"},
        {L"energy", L"消耗热量", [](const Day& d) { return FormatNumber(d.Kilocalories() * 10, 1); }, L"消耗热量: ",
         [](const Day& d) { return FormatNumber(d.Kilocalories(), 1); }, L"千卡"},
        {L"duration", L"有效时长", kDuration, L"有效时长: ", kDuration, L"秒"},
    };
    static const Series kTargetLine = {nullptr, L"运动目标", kTarget, L"运动目标: ", kTarget, L" 步"};

    std::lock_guard lock(WriteLock());
    const uie::value& option = Item(options, 0);
    const std::wstring seriesList = FieldText(option, L"seriesList");
    const int graphType = text::WToI(FieldText(option, L"graphType", L"1").c_str());

    std::vector<Day> days(ItemCount(records));
    for (std::size_t i = 0; i < days.size(); ++i) {
        const uie::value& record = Item(records, i);
        Day& d = days[i];
        d.label = FieldAnsi(record, L"recName");
        d.step = FieldInt(record, L"step", 0);
        d.distance = FieldInt(record, L"distance", 0);
        d.energy = FieldInt(record, L"energy", 0);
        d.duration = FieldInt(record, L"duration", 0);
        d.target = FieldInt(record, L"avgTarget", 0);
    }
    const bool many = days.size() > kManyRecords;

    m_caption = FieldAnsi(option, L"caption");
    ReadDisplayOptions(option);
    if (many) m_showValues = "0";
    m_numDivLines = many ? "5" : "0";
    m_showCanvasBase = "0";
    m_canvasBaseDepth = "0";
    m_chartLeftMargin = m_chartRightMargin = m_chartTopMargin = m_chartBottomMargin = "4";
    m_formatNumberScale = "0";
    m_canvasPadding = "5";
    m_lineThickness = "1";
    m_canvasBgAlpha = "0";
    m_canvasBorderAlpha = "0";
    m_showYAxisValues = "0";
    m_showLegend = "1";  // whatever the page asked for

    // bgColor, bgAlpha, showBorder and showCanvasBg are never assigned: they print empty.
    TiXmlElement root("chart");
    SetHeadAttributes(root);
    SetAttributes(root, {{"formatNumber", "0"},
                         {"formatNumberScale", m_formatNumberScale.c_str()},
                         {"canvasPadding", m_canvasPadding.c_str()},
                         {"lineThickness", m_lineThickness.c_str()},
                         {"canvasBgAlpha", m_canvasBgAlpha.c_str()},
                         {"canvasBorderAlpha", m_canvasBorderAlpha.c_str()},
                         {"showYAxisValues", m_showYAxisValues.c_str()},
                         {"showLegend", m_showLegend.c_str()},
                         {"legendAllowDrag", "1"},
                         {"showAlternateVGridColor", "1"},
                         {"useRoundEdges", "1"}});

    ChartPrinter out(xmlOut);
    out.Reserve(days.size() * kBytesPerRecord);
    out.Open(root, true);
    out.Open(TiXmlElement("categories"), !days.empty());
    TiXmlElement category("category");  // one element for every row
    for (const Day& d : days) {
        SetAttributes(category, {{"label", d.label.c_str()}});
        out.Add(category);
    }
    out.Close();

    const int targetOf[] = {targets.step, targets.distance, targets.energy, targets.duration};
    const std::string stepName = Ansi(kBars[0].name);
    bool anyShown = false;
    bool anyTarget = false;
    for (std::size_t i = 0; i < std::size(kBars); ++i) {
        if (seriesList.find(kBars[i].word) == std::wstring::npos) continue;
        std::vector<Attribute> datasetExtra;
        std::vector<Attribute> setExtra;
        if (i == 0) {
            datasetExtra = {{"plotSpacePercent", "70"}};
            setExtra = {{"showName", stepName.c_str()}, {"plotSpacePercent", "70"}};
        } else if (graphType == kQuietGraphType && anyShown) {
            datasetExtra = {{"showValues", "0"}};
        }
        WriteDataset(out, kBars[i], days, datasetExtra, setExtra);
        anyShown = true;
        anyTarget = anyTarget || targetOf[i] > 0;
    }
    if (anyTarget) {
        WriteDataset(out, kTargetLine, days, {{"color", "00FF00"}, {"showValues", "0"}, {"renderAs", "Line"}}, {});
    }
    out.Close();
    return 0;
}
