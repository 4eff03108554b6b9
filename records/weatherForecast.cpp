#include "weatherForecast.h"

#include <vector>

#include "Communication.h"
#include "DataClassKit.h"
#include "FeedKit.h"
#include "PopWin.h"
#include "Text.h"
#include "global.h"

CWeatherForecast* g_pWeatherForecast = nullptr;

namespace {

constexpr wchar_t kProc[] = L"CWeatherForecast::BussDataProc";

// The fields by their position, which the table's columns and the reply's fields share.
template <class IntAt, class TextAt>
struWeatherForecastW Fill(IntAt intAt, TextAt textAt) {
    struWeatherForecastW f;
    f.areaCodeNo = intAt(0);
    f.solarCalendar = intAt(1);
    f.dayNight = textAt(2);
    f.lunarCalendar = textAt(3);
    f.solarTermsNo = intAt(4);
    f.solarTermsName = textAt(5);
    f.pubTime = textAt(6);
    f.forecastMessNo = intAt(7);
    f.gatherTime = textAt(8);
    f.weatherNo = intAt(9);
    f.weatherName = textAt(10);
    f.minTemperature = intAt(11);
    f.maxTemperature = intAt(12);
    f.minHumidity = intAt(13);
    f.maxHumidity = intAt(14);
    f.windDirectionNo = intAt(15);
    f.windDirectionName = textAt(16);
    f.minWindLevel = intAt(17);
    f.maxWindLevel = intAt(18);
    f.status = textAt(19);
    f.note = textAt(20);
    return f;
}

struWeatherForecastW FromRow(const std::wstring& row) {
    return Fill([&row](int i) { return records::ReplyInt(row, i + 1); },
                [&row](int i) { return records::ReplyField(row, i + 1); });
}

struWeatherForecastW FromColumns(const std::vector<std::wstring>& c) {
    struWeatherForecastW f = Fill([&c](int i) { return records::ColumnInt(c, static_cast<std::size_t>(i)); },
                                  [&c](int i) { return records::ColumnText(c, static_cast<std::size_t>(i)); });
    f.modifyTime = records::ColumnText(c, 21);
    return f;
}

struWeatherForecastW Quoted(struWeatherForecastW f) {
    for (std::wstring* t : {&f.dayNight, &f.lunarCalendar, &f.solarTermsName, &f.pubTime, &f.gatherTime,
                            &f.weatherName, &f.windDirectionName, &f.status, &f.note})
        *t = text::QuoteSql(*t);
    return f;
}

bool FormatUpdate(std::wstring& sql, const struWeatherForecastW& q) {
    return FormatCut(
        sql, records::kWholeStatement,
        L"update tWeatherForecast set lunarCalendar='%s', solarTermsNo=%0d, solarTermsName='%s', pubTime='%s', "
        L"forecastMessNo=%0d, \t\t\t\t\tgatherTime='%s', weatherNo=%0d, weatherName='%s', minTemperature=%0d, "
        L"maxTemperature=%0d, minHumidity=%0d, maxHumidity=%0d, \t\t\t\t\twindDirectionNo=%0d, "
        L"windDirectionName='%s', minWindLevel=%0d, maxWindLevel=%0d, status='%s', note='%s',modifyTime = "
        L"datetime('now','localtime') where areaCodeNo=%0d and solarCalendar=%0d and dayNight='%s';",
        q.lunarCalendar.c_str(), q.solarTermsNo, q.solarTermsName.c_str(), q.pubTime.c_str(), q.forecastMessNo,
        q.gatherTime.c_str(), q.weatherNo, q.weatherName.c_str(), q.minTemperature, q.maxTemperature, q.minHumidity,
        q.maxHumidity, q.windDirectionNo, q.windDirectionName.c_str(), q.minWindLevel, q.maxWindLevel,
        q.status.c_str(), q.note.c_str(), q.areaCodeNo, q.solarCalendar, q.dayNight.c_str());
}

bool FormatInsert(std::wstring& sql, const struWeatherForecastW& q) {
    return FormatCut(
        sql, records::kWholeStatement,
        L"insert into tWeatherForecast (areaCodeNo, solarCalendar, dayNight, lunarCalendar, \t\t\t\t\tsolarTermsNo, "
        L"solarTermsName, pubTime, forecastMessNo, gatherTime, weatherNo, weatherName, minTemperature, "
        L"maxTemperature, minHumidity, \t\t\t\t\tmaxHumidity, windDirectionNo, windDirectionName, minWindLevel, "
        L"maxWindLevel, status, note,modifyTime) values (%0d, %0d, '%s', \t\t\t\t\t'%s', %0d, '%s', '%s', %0d, "
        L"'%s', %0d, '%s', %0d, %0d, %0d, %0d, %0d, '%s', %0d, %0d, '%s', '%s',datetime('now','localtime'));",
        q.areaCodeNo, q.solarCalendar, q.dayNight.c_str(), q.lunarCalendar.c_str(), q.solarTermsNo,
        q.solarTermsName.c_str(), q.pubTime.c_str(), q.forecastMessNo, q.gatherTime.c_str(), q.weatherNo,
        q.weatherName.c_str(), q.minTemperature, q.maxTemperature, q.minHumidity, q.maxHumidity, q.windDirectionNo,
        q.windDirectionName.c_str(), q.minWindLevel, q.maxWindLevel, q.status.c_str(), q.note.c_str());
}

uie::value ForecastMap(const struWeatherForecastW& f) {
    using uie::value;
    return records::MakeObject({
        {L"areaCodeNo", value(f.areaCodeNo)},
        {L"solarCalendar", value(f.solarCalendar)},
        {L"dayNight", value(f.dayNight)},
        {L"lunarCalendar", value(f.lunarCalendar)},
        {L"solarTermsNo", value(f.solarTermsNo)},
        {L"solarTermsName", value(f.solarTermsName)},
        {L"pubTime", value(f.pubTime)},
        {L"forecastMessNo", value(f.forecastMessNo)},
        {L"gatherTime", value(f.gatherTime)},
        {L"weatherNo", value(f.weatherNo)},
        {L"weatherName", value(f.weatherName)},
        {L"minTemperature", value(f.minTemperature)},
        {L"maxTemperature", value(f.maxTemperature)},
        {L"minHumidity", value(f.minHumidity)},
        {L"maxHumidity", value(f.maxHumidity)},
        {L"windDirectionNo", value(f.windDirectionNo)},
        {L"windDirectionName", value(f.windDirectionName)},
        {L"minWindLevel", value(f.minWindLevel)},
        {L"maxWindLevel", value(f.maxWindLevel)},
        {L"status", value(f.status)},
        {L"note", value(f.note)},
    });
}

}  // namespace

CWeatherForecast::CWeatherForecast() = default;

int CWeatherForecast::LoadFromDB(int areaCodeNo) {
    Clear();
    ReadWeatherForecastFromDB(areaCodeNo);
    return 0;
}

void CWeatherForecast::Clear() {
    std::lock_guard lock(m_lock);
    m_records.fill(struWeatherForecastW{});
    m_nForecastMessNo = -1;
}

int CWeatherForecast::ReadWeatherForecastFromDB(int areaCodeNo) {
    std::wstring head;
    FormatCut(head, 260, L"select * from tWeatherForecast where areaCodeNo = %d ", areaCodeNo);
    // Appended as it stands: "%Y" is SQLite's, not a format conversion.
    const std::wstring sql = head + L"and solarCalendar>=" + records::kLocalToday +
                             L" order by areaCodeNo,solarCalendar,dayNight limit 14;";
    int read = 0;
    return records::SelectOwnConnection(L"CWeatherForecast::ReadWeatherForecastFromDB", head.c_str(), sql,
                                        [this, &read](const std::vector<std::wstring>& c) {
                                            SetSlot(read, FromColumns(c), false);
                                            std::lock_guard lock(m_lock);
                                            m_nCount = ++read;
                                            return read < kMaxRecords;
                                        });
}

int CWeatherForecast::BussDataProc(const std::wstring& reply) {
    int i = 0;
    for (; i < kMaxRecords; ++i) {
        const std::wstring row = records::ReplyRow(reply, i + 1);
        if (row.empty() || !records::HasFields(kProc, COMMAND_WEATHERFORECAST_QUEST, row, kRowFields)) break;
        const struWeatherForecastW f = FromRow(row);
        if (f.areaCodeNo <= 0) break;
        if (f.forecastMessNo == HeldMessNo(i)) continue;  // held already: counts, writes nothing
        if (WriteRow(f)) SetSlot(i, f, true);
    }
    {
        std::lock_guard lock(m_lock);
        m_nCount = i;
    }
    records::PostToEnvironmentPopup(&CPopWin::PostFloatUserEnvWeatherForecast);
    return i;
}

bool CWeatherForecast::WriteRow(const struWeatherForecastW& f) {
    const struWeatherForecastW q = Quoted(f);
    std::wstring sql;
    if (!FormatCut(sql, records::kWholeStatement,
                   L"select count(*) from tWeatherForecast where areaCodeNo=%d and solarCalendar=%d and "
                   L"dayNight='%s' ;",
                   q.areaCodeNo, q.solarCalendar, q.dayNight.c_str()))
        return false;
    const bool written = records::RowStored(sql) ? FormatUpdate(sql, q) : FormatInsert(sql, q);
    return written && records::ExecOneRow(kProc, sql) == 1;
}

int CWeatherForecast::HeldMessNo(int slot) const {
    std::lock_guard lock(m_lock);
    return m_records[static_cast<std::size_t>(slot)].forecastMessNo;
}

void CWeatherForecast::SetSlot(int slot, const struWeatherForecastW& f, bool keepModifyTime) {
    std::lock_guard lock(m_lock);
    struWeatherForecastW& held = m_records[static_cast<std::size_t>(slot)];
    const std::wstring modifyTime = held.modifyTime;
    held = f;
    if (keepModifyTime) held.modifyTime = modifyTime;
    if (slot == 0) m_nForecastMessNo = f.forecastMessNo;
}

int CWeatherForecast::GetCount() const {
    std::lock_guard lock(m_lock);
    return m_nCount;
}

uie::value CWeatherForecast::GetForecastValue() const {
    std::array<struWeatherForecastW, kMaxRecords> copy;
    int count = 0;
    {
        std::lock_guard lock(m_lock);
        copy = m_records;
        count = m_nCount;
    }
    uie::value list = uie::value::make_array();
    for (int i = 0; i < count; ++i) list.append(ForecastMap(copy[static_cast<std::size_t>(i)]));
    return list;
}

int CWeatherForecast::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "weatherForecast", ScriptObjectDef()) ? 1 : 0;
}

std::shared_ptr<const uie::NativeObjectDef> CWeatherForecast::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"getWeatherForecast", [](HVM, const uie::NativeArgs&) {
                           const CWeatherForecast* owner = g_pWeatherForecast;
                           return owner != nullptr ? owner->GetForecastValue() : uie::value::make_array();
                       }}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}
