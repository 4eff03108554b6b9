#include "BloodPressureGraph.h"

#include <tinyxml.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "BloodPressureLevel.h"
#include "ChartPrinter.h"
#include "Text.h"

namespace {

constexpr int kBoxGraph = 1;
constexpr int kLineGraph = 2;
constexpr std::size_t kManyRecords = 20;  // beyond this, the line values would crowd
constexpr std::size_t kYearDigits = 4;    // a day's label breaks after its year
constexpr int kPeriods = 3;               // early morning, daytime, night
constexpr std::size_t kWholeDay = 3;      // the whole day's box in the box table
// A result's lines in the widest form (its category and a line in each of three series
// with the tool-tip), and the frame and zones: room enough, as the document's text is
// reserved once and only the part written is ever touched.
constexpr std::size_t kBytesPerRecord = 1024;
constexpr std::size_t kFrameBytes = 4096;

// The tool-tips' words, converted to the system code page once.
struct TipWords {
    std::string time = text::ToAnsi(L"测量时间：");
    std::string count = text::ToAnsi(L"{br}测量次数：");
    std::string systolic = text::ToAnsi(L"{br}收缩压：");
    std::string diastolic = text::ToAnsi(L"{br}舒张压：");
    std::string difference = text::ToAnsi(L"{br}压差：");
    std::string pulse = text::ToAnsi(L"{br}心率：");
    std::string level = text::ToAnsi(L"{br}血压级别：");
    std::string note = text::ToAnsi(L"{br}评语：");
    std::string summary = text::ToAnsi(L"{br}备注：");
};

const TipWords& Words() {
    static const TipWords words;
    return words;
}

// The year, the line break, then the rest; a text too short to hold a year stays whole.
std::wstring DayLabel(const std::wstring& date) {
    const std::size_t split = std::min(date.size(), kYearDigits);
    return date.substr(0, split) + L"{br}" + date.substr(split);
}

bool IsPeriod(int period) { return period >= 1 && period <= kPeriods; }

template <typename Options>
bool WholeDayOnly(const Options& o) {
    return std::none_of(o.box.begin(), o.box.begin() + kWholeDay, [](bool chosen) { return chosen; });
}

}  // namespace

const CBloodPressureGraph::Box CBloodPressureGraph::kBoxes[4] = {
    {nullptr, "2828FF", 1},
    {nullptr, "FB7733", 2},
    {nullptr, "9071CD", 3},
    {L"全天", "FF5904", 0},
};

struct CBloodPressureGraph::Options {
    int graphType = kBoxGraph;
    std::array<bool, std::size(kBoxes)> box{};  // which daily boxes are written
    bool everyMeasurement = false;              // a box per result instead of per day
    std::size_t limit = std::numeric_limits<std::size_t>::max();

    std::size_t Limit(std::size_t count) const { return std::min(count, limit); }
};

struct CBloodPressureGraph::Record {
    // What is printed of the page's texts, in the system code page. Converted when the record
    // is first printed: the daily forms print the first result of each day and period only.
    struct Texts {
        std::string date;   // dataDate as the page wrote it
        std::string label;  // the category label of that day
        std::string note;
        std::string summary;
    };
    // The fields past the day and the period, read in one walk when the record is first
    // printed, for the same reason.
    struct Values {
        int systolic = 0;
        int diastolic = 0;
        int pulse = 0;
        int count = 1;
        const std::string* levelName = &GetBloodPressureLevelName(0);
        const uie::value* noteField = nullptr;  // the page's fields, read in place
        const uie::value* summaryField = nullptr;
    };

    const uie::value* item = nullptr;
    const uie::value* dateField = nullptr;
    int day = 0;
    int period = 0;
    const std::string* periodName = &GetBloodPressureBandName(0);

    // The page's fields of the record (null: missing): the day and the period first, then
    // the values, in the order the page writes them.
    struct ValueFields {
        const uie::value* date = nullptr;
        const uie::value* period = nullptr;
        const uie::value* systolic = nullptr;
        const uie::value* diastolic = nullptr;
        const uie::value* pulse = nullptr;
        const uie::value* count = nullptr;
        const uie::value* level = nullptr;
        const uie::value* note = nullptr;
        const uie::value* summary = nullptr;

        static constexpr std::size_t kDayAndPeriod = 2;
        std::array<FieldSlot, 9> Slots() {
            using namespace std::string_view_literals;  // the names' lengths known before the walk
            return {{{L"dataDate"sv, &date},
                     {L"bpKbn"sv, &period},
                     {L"avgSystolic"sv, &systolic},
                     {L"avgDiastolic"sv, &diastolic},
                     {L"avgPulse"sv, &pulse},
                     {L"recNum"sv, &count},
                     {L"bpLevel"sv, &level},
                     {L"bpAssessNote"sv, &note},
                     {L"summary"sv, &summary}}};
        }
    };
    static Values FromFields(const ValueFields& f);
    static Values ReadFrom(const uie::value& item);
    const Values& Read() const {
        if (!values) values = ReadFrom(*item);
        return *values;
    }
    const Texts& Converted() const {
        if (!texts) {
            const Values& v = Read();
            const std::wstring date = ValueText(dateField);
            texts = Texts{Ansi(date), Ansi(DayLabel(date)), ValueAnsi(v.noteField), ValueAnsi(v.summaryField)};
        }
        return *texts;
    }
    // A box: systolic, diastolic and pulse.
    void BoxValue(std::string& out) const {
        const Values& v = Read();
        out.assign(FormatInt(v.systolic))
            .append(",")
            .append(FormatInt(v.diastolic))
            .append(",")
            .append(FormatInt(v.pulse));
    }

    mutable std::optional<Values> values;
    mutable std::optional<Texts> texts;
};

struct CBloodPressureGraph::Day {
    // The first result of the day (index 0) and of each period on it, in list order.
    std::array<const Record*, kPeriods + 1> first{};
};

CBloodPressureGraph::CBloodPressureGraph(const char*, const char*) { Init(); }

void CBloodPressureGraph::Tooltip(std::string& tip, const Record& r, const std::string& periodName, bool withCount) {
    const TipWords& w = Words();
    const Record::Texts& t = r.Converted();
    const Record::Values& v = r.Read();
    // The difference of two page numbers can pass int's range.
    const long long difference = static_cast<long long>(v.systolic) - v.diastolic;
    tip.assign(w.time).append(t.date).append("(").append(periodName).append(")");
    if (withCount) tip.append(w.count).append(FormatInt(v.count));
    tip.append(w.systolic)
        .append(FormatInt(v.systolic))
        .append(w.diastolic)
        .append(FormatInt(v.diastolic))
        .append(w.difference)
        .append(std::to_string(difference))
        .append(w.pulse)
        .append(FormatInt(v.pulse))
        .append(w.level)
        .append(*v.levelName)
        .append(w.note)
        .append(t.note)
        .append(w.summary)
        .append(t.summary)
        .append("{br}");
}

void CBloodPressureGraph::WriteCategories(ChartPrinter& out, const Options& options,
                                          const std::vector<const Record*>& labelled) {
    const std::size_t count = options.Limit(labelled.size());
    out.Open(TiXmlElement("categories"), count > 0);
    TiXmlElement category("category");  // one element for every row
    for (std::size_t i = 0; i < count; ++i) {
        SetAttributes(category, {{"label", labelled[i]->Converted().label.c_str()}});
        out.Add(category);
    }
    out.Close();
}

void CBloodPressureGraph::WriteRecordCategories(ChartPrinter& out, const Options& options,
                                                const std::vector<Record>& records) {
    std::vector<const Record*> labelled;
    labelled.reserve(options.Limit(records.size()));
    for (std::size_t i = 0; i < options.Limit(records.size()); ++i) labelled.push_back(&records[i]);
    WriteCategories(out, options, labelled);
}

void CBloodPressureGraph::WriteBoxDataset(ChartPrinter& out, const Box& box, const Options& options,
                                          const std::vector<Day>& days) {
    const std::string name = box.name != nullptr ? Ansi(box.name) : GetBloodPressureBandName(box.period);
    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", name.c_str()},
                            {"lowerboxcolor", box.color},
                            {"upperboxcolor", box.color},
                            {"showMedianValues", "0"},
                            {"medianThickness", "0"},
                            {"medianAlpha", "0"}});
    const std::size_t count = options.Limit(days.size());
    out.Open(dataset, count > 0);
    // One element for the rows with a result, one for those without: each sets the same attributes.
    TiXmlElement result("set");
    TiXmlElement none("set");
    std::string value;
    std::string tip;
    for (std::size_t i = 0; i < count; ++i) {
        if (const Record* r = days[i].first[box.period]) {
            r->BoxValue(value);
            Tooltip(tip, *r, *r->periodName, true);
            SetAttributes(result, {{"value", value.c_str()}, {"tooltext", tip.c_str()}});
            out.Add(result);
        } else {
            // No result of this period on the day: the day, no pressures, the box's period.
            Record missing;
            missing.texts = Record::Texts{days[i].first[0]->Converted().date, {}, {}, {}};
            missing.values = Record::Values{-1, -1, -1, 0};
            Tooltip(tip, missing, name, true);
            SetAttributes(none, {{"tooltext", tip.c_str()}});
            out.Add(none);
        }
    }
    out.Close();
}

void CBloodPressureGraph::WriteDailyBoxes(ChartPrinter& out, const Options& options,
                                          const std::vector<Record>& records) {
    // Each day once, ascending; a stable sort keeps a day's results in list order.
    std::vector<const Record*> byDay;
    byDay.reserve(records.size());
    for (const Record& r : records) byDay.push_back(&r);
    std::stable_sort(byDay.begin(), byDay.end(), [](const Record* a, const Record* b) { return a->day < b->day; });
    std::vector<Day> days;
    std::vector<const Record*> firstOfDay;  // its text labels the day
    for (const Record* r : byDay) {
        if (days.empty() || days.back().first[0]->day != r->day) {
            days.emplace_back();
            days.back().first[0] = r;
            firstOfDay.push_back(r);
        }
        Day& day = days.back();
        if (IsPeriod(r->period) && !day.first[r->period]) day.first[r->period] = r;
    }
    WriteCategories(out, options, firstOfDay);
    for (std::size_t b = 0; b < std::size(kBoxes); ++b) {
        if (options.box[b]) WriteBoxDataset(out, kBoxes[b], options, days);
    }
}

void CBloodPressureGraph::WriteDetailBoxes(ChartPrinter& out, const Options& options,
                                           const std::vector<Record>& records) {
    WriteRecordCategories(out, options, records);
    TiXmlElement dataset("dataset");
    SetAttributes(dataset, {{"seriesName", Ansi(L"明细").c_str()},
                            {"showMedianValues", "0"},
                            {"medianThickness", "0"},
                            {"medianAlpha", "0"}});
    const std::size_t count = options.Limit(records.size());
    out.Open(dataset, count > 0);
    // One element for the results of a period, with its colour, one for the others.
    TiXmlElement coloured("set");
    TiXmlElement plain("set");
    std::string value;
    std::string tip;
    for (std::size_t i = 0; i < count; ++i) {
        const Record& r = records[i];
        r.BoxValue(value);
        Tooltip(tip, r, *r.periodName, false);
        TiXmlElement& set = IsPeriod(r.period) ? coloured : plain;
        SetAttributes(set, {{"value", value.c_str()}, {"tooltext", tip.c_str()}});
        if (IsPeriod(r.period)) {
            const char* color = kBoxes[r.period - 1].color;
            SetAttributes(set, {{"lowerboxcolor", color}, {"upperboxcolor", color}});
        }
        out.Add(set);
    }
    out.Close();
}

void CBloodPressureGraph::WriteLines(ChartPrinter& out, const Options& options, const std::vector<Record>& records) {
    static const struct {
        const wchar_t* name;
        int Record::Values::*value;
    } kLines[] = {{L"收缩压", &Record::Values::systolic},
                  {L"舒张压", &Record::Values::diastolic},
                  {L"心率", &Record::Values::pulse}};

    WriteRecordCategories(out, options, records);
    const std::size_t count = options.Limit(records.size());
    TiXmlElement set("set");  // one element for every row
    std::string tip;
    for (const auto& line : kLines) {
        TiXmlElement dataset("dataset");
        SetAttributes(dataset, {{"seriesName", Ansi(line.name).c_str()}, {"renderAs", "Line"}});
        out.Open(dataset, count > 0);
        for (std::size_t i = 0; i < count; ++i) {
            const Record& r = records[i];
            Tooltip(tip, r, *r.periodName, true);
            SetAttributes(set, {{"value", FormatInt(r.Read().*line.value).c_str()}, {"tooltext", tip.c_str()}});
            out.Add(set);
        }
        out.Close();
    }
}

void CBloodPressureGraph::WriteTrendZones(ChartPrinter& out) {
    static const struct {
        const char* start;
        const char* end;
        const char* color;
        const wchar_t* name;
        const wchar_t* tip;
    } kZones[] = {
        {"120", "139", "E0E0E0", L"正常高值", L"正常高值血压---收缩压：120-139"},
        {"140", "159", "BEBEBE", L"轻度", L"1级高血压(轻度)---收缩压：140-159"},
        {"160", "179", "9D9D9D", L"中度", L"2级高血压(中度)---收缩压: 160-179"},
        {"180", "200", "6C6C6C", L"重度", L"3级高血压(重度)---收缩压: >180"},
    };
    TiXmlElement trendLines("trendLines");
    for (const auto& zone : kZones) {
        SetAttributes(AddChild(trendLines, "line"), {{"startValue", zone.start},
                                                     {"endValue", zone.end},
                                                     {"isTrendZone", "1"},
                                                     {"color", zone.color},
                                                     {"displayValue", Ansi(zone.name).c_str()},
                                                     {"toolText", Ansi(zone.tip).c_str()},
                                                     {"showOnTop", "0"},
                                                     {"dashed", "1"}});
    }
    out.Add(trendLines);
}

void CBloodPressureGraph::SetRootAttributes(TiXmlElement& root, const uie::value& option, int graphType,
                                            bool many) {
    const bool crowded = graphType == kLineGraph && many;
    ReadDisplayOptions(option);
    if (crowded) m_showValues = "0";
    m_numDivLines = crowded ? "5" : "0";
    m_yAxisMinValue = "20";
    m_yAxisMaxValue = "200";
    // bgColor, bgAlpha and showBorder are never assigned: they print empty.
    SetAttributes(root, {{"animation", m_animation.c_str()},
                         {"showValues", m_showValues.c_str()},
                         {"bgColor", m_bgColor.c_str()},
                         {"bgAlpha", m_bgAlpha.c_str()},
                         {"showBorder", m_showBorder.c_str()},
                         {"useRoundEdges", "1"},
                         {"showDetailedLegend", "0"},
                         {"plotSpacePercent", "50"},
                         {"yAxisMinValue", m_yAxisMinValue.c_str()},
                         {"yAxisMaxValue", m_yAxisMaxValue.c_str()},
                         {"numDivLines", m_numDivLines.c_str()},
                         {"showLegend", m_showLegend.c_str()},
                         {"legendAllowDrag", "1"}});
}

CBloodPressureGraph::Options CBloodPressureGraph::ReadOptions(const uie::value& option) {
    Options o;
    o.graphType = text::WToI(FieldText(option, L"graphType", L"1").c_str());
    const int all = FieldInt(option, L"all", 0);
    if (all == 0) {
        o.box[0] = FieldInt(option, L"afterWakeUp", 0) == 1;
        o.box[1] = FieldInt(option, L"normal", 0) == 1;
        o.box[2] = FieldInt(option, L"beforeAsleep", 0) == 1;
    }
    o.box[kWholeDay] = all == 1;
    o.everyMeasurement = FieldText(option, L"sumMode") == L"all";
    const int showMax = FieldInt(option, L"showMaxRecNum", -1);
    if (showMax > 0) o.limit = static_cast<std::size_t>(showMax);
    return o;
}

CBloodPressureGraph::Record CBloodPressureGraph::ReadRecord(const uie::value& item, bool allFields) {
    Record r;
    r.item = &item;
    Record::ValueFields f;
    const auto slots = f.Slots();
    // Without the values the walk ends with the page's first two fields.
    ReadFields(item, allFields ? std::span(slots) : std::span(slots).first(Record::ValueFields::kDayAndPeriod));
    if (allFields) r.values = Record::FromFields(f);
    r.dateField = f.date;
    r.day = ValueTextInt(r.dateField);
    r.period = ValueInt(f.period, 0);
    r.periodName = &GetBloodPressureBandName(r.period);
    return r;
}

CBloodPressureGraph::Record::Values CBloodPressureGraph::Record::ReadFrom(const uie::value& item) {
    ValueFields f;
    const auto slots = f.Slots();
    ReadFields(item, std::span(slots).subspan(ValueFields::kDayAndPeriod));
    return FromFields(f);
}

CBloodPressureGraph::Record::Values CBloodPressureGraph::Record::FromFields(const ValueFields& f) {
    Values v;
    v.systolic = ValueInt(f.systolic, 0);
    v.diastolic = ValueInt(f.diastolic, 0);
    v.pulse = ValueInt(f.pulse, 0);
    v.count = ValueInt(f.count, 1);
    v.levelName = &GetBloodPressureLevelName(ValueTextInt(f.level));
    v.noteField = f.note;
    v.summaryField = f.summary;
    return v;
}

int CBloodPressureGraph::GenGraphData(const uie::value& options, const uie::value& records, std::string& xmlOut) {
    std::lock_guard lock(WriteLock());
    const uie::value& option = Item(options, 0);
    const Options o = ReadOptions(option);
    std::vector<Record> list;
    list.reserve(ItemCount(records));
    // Only the whole-day box leaves most results unprinted (all but each day's first).
    const bool allFields = !(o.graphType == kBoxGraph && !o.everyMeasurement && WholeDayOnly(o));
    for (std::size_t i = 0; i < ItemCount(records); ++i) list.push_back(ReadRecord(Item(records, i), allFields));

    TiXmlElement root("chart");
    SetRootAttributes(root, option, o.graphType, list.size() > kManyRecords);
    ChartPrinter out(xmlOut);
    out.Reserve(kFrameBytes + list.size() * kBytesPerRecord);
    out.Open(root, true);
    if (o.graphType == kBoxGraph && o.everyMeasurement) {
        WriteDetailBoxes(out, o, list);
    } else if (o.graphType == kBoxGraph) {
        WriteDailyBoxes(out, o, list);
    } else if (o.graphType == kLineGraph) {
        WriteLines(out, o, list);
    }
    WriteTrendZones(out);
    out.Close();
    return 0;
}
