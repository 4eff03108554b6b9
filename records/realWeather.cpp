#include "realWeather.h"

#include "Communication.h"
#include "DataClassKit.h"
#include "FeedKit.h"
#include "HealthResources.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "PopWin.h"
#include "Text.h"
#include "global.h"

CRealWeather* g_pRealWeather = nullptr;

namespace {

constexpr wchar_t kProc[] = L"CRealWeather::BussDataProc";

template <class T>
uie::NativeProperty Field(const char* name, T struRealWeatherW::*field) {
    return records::FieldProperty(name, g_pRealWeather, field);
}

// Columns 2 to 23 of a row; columns 0 and 1 are read first.
void ReadColumns(const std::vector<std::wstring>& c, struRealWeatherW& w) {
    using records::ColumnInt, records::ColumnText;
    w.lunarCalendar = ColumnText(c, 2);
    w.solarTermsNo = ColumnInt(c, 3);
    w.solarTermsName = ColumnText(c, 4);
    w.pubTime = ColumnText(c, 5);
    w.realMessNo = ColumnInt(c, 6);
    w.gatherTime = ColumnText(c, 7);
    w.realWeatherNo = ColumnInt(c, 8);
    w.realWeatherName = ColumnText(c, 9);
    w.realTemperature = ColumnInt(c, 10);
    w.realMinTemperature = ColumnInt(c, 11);
    w.realMaxTemperature = ColumnInt(c, 12);
    w.realHumidity = ColumnInt(c, 13);
    w.realMinHumidity = ColumnInt(c, 14);
    w.realMaxHumidity = ColumnInt(c, 15);
    w.realWindDirectionNo = ColumnInt(c, 16);
    w.realWindDirectionName = ColumnText(c, 17);
    w.realWindLevel = ColumnInt(c, 18);
    w.realMinWindLevel = ColumnInt(c, 19);
    w.realMaxWindLevel = ColumnInt(c, 20);
    w.status = ColumnText(c, 21);
    w.note = ColumnText(c, 22);
    w.modifyTime = ColumnText(c, 23);
}

bool FormatUpdate(std::wstring& sql, const struRealWeatherW& w) {
    using text::QuoteSql;
    return FormatCut(
        sql, records::kWholeStatement,
        L"update tRealWeather set areaCodeNo = %d, solarCalendar = %0d, lunarCalendar='%s', solarTermsNo=%0d, "
        L"solarTermsName='%s', pubTime='%s', realMessNo=%0d, \t\tgatherTime='%s', realWeatherNo=%0d, "
        L"realWeatherName='%s',realTemperature=%0d, realMinTemperature=%0d, realMaxTemperature=%0d, "
        L"realHumidity=%0d, realMinHumidity=%0d, \t\trealMaxHumidity=%0d, realWindDirectionNo=%0d, "
        L"realWindDirectionName='%s', realWindLevel=%0d, realMinWindLevel=%0d, realMaxWindLevel=%0d, status='%s', "
        L"\t\tnote='%s',modifyTime=datetime('now','localtime') ;",
        w.areaCodeNo, w.solarCalendar, QuoteSql(w.lunarCalendar).c_str(), w.solarTermsNo,
        QuoteSql(w.solarTermsName).c_str(), QuoteSql(w.pubTime).c_str(), w.realMessNo, QuoteSql(w.gatherTime).c_str(),
        w.realWeatherNo, QuoteSql(w.realWeatherName).c_str(), w.realTemperature, w.realMinTemperature,
        w.realMaxTemperature, w.realHumidity, w.realMinHumidity, w.realMaxHumidity, w.realWindDirectionNo,
        QuoteSql(w.realWindDirectionName).c_str(), w.realWindLevel, w.realMinWindLevel, w.realMaxWindLevel,
        QuoteSql(w.status).c_str(), QuoteSql(w.note).c_str());
}

uie::value ElementRow(const wchar_t* id, int valueNo, const std::wstring& value) {
    return records::MakeObject({{L"healthElementID", uie::value(id)},
                                {L"valueNo", uie::value(valueNo)},
                                {L"value", uie::value(value)},
                                {L"recordDataList", uie::value(0)}});
}

}  // namespace

CRealWeather::CRealWeather() = default;

int CRealWeather::LoadFromDB(int areaCodeNo) {
    Clear();
    ReadRealWeatherFromDB(areaCodeNo);
    return 0;
}

void CRealWeather::Clear() { SetRecord(struRealWeatherW{}, false); }

int CRealWeather::ReadRealWeatherFromDB(int areaCodeNo) {
    std::wstring sql;
    FormatCut(sql, 260, L"select * from tRealWeather where areaCodeNo = %d;", areaCodeNo);
    return records::SelectOwnConnection(
        L"CRealWeather::ReadRealWeatherFromDB", sql.c_str(), sql, [this](const std::vector<std::wstring>& c) {
            struRealWeatherW w;
            // A reading of another day is not shown.
            if (records::ColumnInt(c, 1) == GetCurDate()) {
                w.areaCodeNo = records::ColumnInt(c, 0);
                w.solarCalendar = records::ColumnInt(c, 1);
                ReadColumns(c, w);
            }
            SetRecord(w, false);
            return false;  // the first row only
        });
}

struRealWeatherW CRealWeather::ParseReply(const std::wstring& reply) {
    using records::ReplyField, records::ReplyInt;
    struRealWeatherW w;
    w.areaCodeNo = ReplyInt(reply, 1);
    w.solarCalendar = ReplyInt(reply, 2);
    w.solarTermsName = ReplyField(reply, 3);  // the server sends the term's name before the lunar date
    w.lunarCalendar = ReplyField(reply, 4);
    w.solarTermsNo = ReplyInt(reply, 5);
    w.pubTime = ReplyField(reply, 6);
    w.realMessNo = ReplyInt(reply, 7);
    w.gatherTime = ReplyField(reply, 8);
    w.realWeatherNo = ReplyInt(reply, 9);
    w.realWeatherName = ReplyField(reply, 10);
    w.realTemperature = ReplyInt(reply, 11);
    w.realMinTemperature = ReplyInt(reply, 12);
    w.realMaxTemperature = ReplyInt(reply, 13);
    w.realHumidity = ReplyInt(reply, 14);
    w.realMinHumidity = ReplyInt(reply, 15);
    w.realMaxHumidity = ReplyInt(reply, 16);
    w.realWindDirectionNo = ReplyInt(reply, 17);
    w.realWindDirectionName = ReplyField(reply, 18);
    w.realWindLevel = ReplyInt(reply, 19);
    w.realMinWindLevel = ReplyInt(reply, 20);
    w.realMaxWindLevel = ReplyInt(reply, 21);
    w.status = ReplyField(reply, 22);
    w.note = ReplyField(reply, 23);
    return w;
}

int CRealWeather::BussDataProc(const std::wstring& reply) {
    if (!records::HasFields(kProc, COMMAND_WEATHERLIVE_QUEST, reply, kReplyFields)) return 0;
    const struRealWeatherW w = ParseReply(reply);
    if (w.areaCodeNo <= 0 || w.realMessNo == m_nRealMessNo.load()) return 0;

    std::wstring sql;
    if (!FormatUpdate(sql, w)) return 0;
    const int changed = g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQL(sql) : -1;
    // Any row changed is the reading stored; the table is meant to hold one.
    if (changed < 1) return changed;

    SetRecord(w, true);
    Publish(w);
    return changed;
}

void CRealWeather::Publish(const struRealWeatherW& w) {
    if (CHealthResources* resources = g_pHealthResources)
        resources->SetHealthElementValue_Batch(ElementRows(w, *resources));
    if (CMainFrame* frame = g_pMainFrame) frame->PostHomePageRealWeather();
    records::PostToEnvironmentPopup(&CPopWin::PostFloatUserEnvRealWeather);
}

uie::value CRealWeather::ElementRows(const struRealWeatherW& w, const CHealthResources& resources) {
    const auto shown = [&resources](const wchar_t* id, int valueNo) {
        std::wstring text;
        resources.GetElementValueByValueNo(text, id, valueNo);
        return text;
    };
    uie::value rows = uie::value::make_array();
    rows.append(ElementRow(L"realWeather", w.realWeatherNo, w.realWeatherName));
    rows.append(ElementRow(L"realTemperature", w.realTemperature, shown(L"realTemperature", w.realTemperature)));
    rows.append(ElementRow(L"realHumidity", w.realHumidity, shown(L"realHumidity", w.realHumidity)));
    rows.append(ElementRow(L"realWindLevel", w.realWindLevel, shown(L"realWindLevel", w.realWindLevel)));
    rows.append(ElementRow(L"realWindDirectionName", w.realWindDirectionNo, w.realWindDirectionName));
    return rows;
}

void CRealWeather::SetRecord(const struRealWeatherW& w, bool keepModifyTime) {
    std::lock_guard lock(m_lock);
    const std::wstring modifyTime = m_record.modifyTime;
    m_record = w;
    if (keepModifyTime) m_record.modifyTime = modifyTime;
    m_nRealMessNo = w.realMessNo;
}

struRealWeatherW CRealWeather::GetRecord() const {
    std::lock_guard lock(m_lock);
    return m_record;
}

int CRealWeather::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "realWeather", ScriptObjectDef()) ? 1 : 0;
}

std::shared_ptr<const uie::NativeObjectDef> CRealWeather::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        using W = struRealWeatherW;
        d->properties = {
            Field("areaCodeNo", &W::areaCodeNo),
            Field("solarCalendar", &W::solarCalendar),
            Field("lunarCalendar", &W::lunarCalendar),
            Field("solarTermsNo", &W::solarTermsNo),
            Field("solarTermsName", &W::solarTermsName),
            Field("pubTime", &W::pubTime),
            Field("realMessNo", &W::realMessNo),
            Field("gatherTime", &W::gatherTime),
            Field("realWeatherNo", &W::realWeatherNo),
            Field("realWeatherName", &W::realWeatherName),
            Field("realTemperature", &W::realTemperature),
            Field("realMinTemperature", &W::realMinTemperature),
            Field("realMaxTemperature", &W::realMaxTemperature),
            Field("realHumidity", &W::realHumidity),
            Field("realMinHumidity", &W::realMinHumidity),
            Field("realMaxHumidity", &W::realMaxHumidity),
            Field("realWindDirectionNo", &W::realWindDirectionNo),
            Field("realWindDirectionName", &W::realWindDirectionName),
            Field("realWindLevel", &W::realWindLevel),
            Field("realMinWindLevel", &W::realMinWindLevel),
            Field("realMaxWindLevel", &W::realMaxWindLevel),
            Field("status", &W::status),
            Field("note", &W::note),
            Field("modifyTime", &W::modifyTime),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}
