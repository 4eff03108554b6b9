// The pedometer's data path: the raw text into day records, the step target, their
// statements, demo days and the server's reply to an upload.
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <new>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthDevices.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"
#include "pedometerWin.h"

namespace {

constexpr std::size_t kTargetChars = 1040;
constexpr std::size_t kUserExpChars = 520;
constexpr std::size_t kInsertChars = 1040;
constexpr int kInfoFields = 23;
constexpr int kInfoFieldMax = 260;
constexpr int kRankFields = 12;
constexpr int kReplyRankFirst = 9;
constexpr int kReplyStoredFields = 7;  // through the user text; the rank after it may be left out
constexpr int kBlockChars = 10;  // five bytes, two hex characters each
constexpr int kTodayBlock = 3;
constexpr double kInchCm = 2.54;
constexpr double kPoundKg = 0.45359237;

// The listed characters joined, most significant first, read as a decimal number. A
// position past the text or a character other than '0'..'9' ends the digits there.
int JoinDigits(const std::wstring& text, std::initializer_list<int> positions) {
    int value = 0;
    for (const int at : positions) {
        if (at < 0 || static_cast<std::size_t>(at) >= text.size()) break;
        const wchar_t c = text[static_cast<std::size_t>(at)];
        if (c < L'0' || c > L'9') break;
        value = value * 10 + (c - L'0');
    }
    return value;
}

int LowNumber(const std::wstring& text, int p) { return JoinDigits(text, {p + 5, p + 2, p + 3, p + 0, p + 1}); }
int HighNumber(const std::wstring& text, int p) { return JoinDigits(text, {p + 8, p + 9, p + 6, p + 7, p + 4}); }

// The date `days` before the yyyymmdd date; the records of one read share one "today".
int DateBefore(int date, int days) {
    using namespace std::chrono;
    const year_month_day ymd{year(date / 10000), month(static_cast<unsigned>(date / 100 % 100)),
                             day(static_cast<unsigned>(date % 100))};
    if (!ymd.ok()) return -1;
    const year_month_day back{sys_days(ymd) - std::chrono::days(days)};
    return static_cast<int>(back.year()) * 10000 + static_cast<int>(static_cast<unsigned>(back.month())) * 100 +
           static_cast<int>(static_cast<unsigned>(back.day()));
}

// Block 0 and the reference blocks.
void DecodeDeviceValues(const std::wstring& text, struPedoDeviceValues& values) {
    values.pedoUnitMode = !text.empty() && (text[0] & 1) != 0 ? 1 : 0;
    const bool metric = values.pedoUnitMode == 1;
    const int stepDigits = JoinDigits(text, {4, 5, 2});
    values.pedoStepLong = metric ? stepDigits : static_cast<int>(stepDigits * kInchCm);
    const int weight = JoinDigits(text, {9, 6, 7}) * 10;
    // The device's own rounding: the product in double, kept as a float, then rounded.
    const float kg = static_cast<float>(weight * kPoundKg);
    values.pedoWeight = metric ? weight : static_cast<int>(kg + 0.5f);
    values.refDuration = HighNumber(text, 2 * kBlockChars) * 60;
    values.refStep = LowNumber(text, 4 * kBlockChars);
    values.refEnergy = HighNumber(text, 4 * kBlockChars) * 100;
}

// One day's record from its block; false when it holds neither steps nor energy.
bool DecodeDay(const std::wstring& text, int p, const struPedoDeviceValues& values, struDeviceDataList_122W& day) {
    day.stepLen_cm = values.pedoStepLong;
    day.step = LowNumber(text, p);
    day.energy = HighNumber(text, p) * 100;
    if (day.step < 1 && day.energy < 1) return false;
    day.distance = static_cast<int>((static_cast<std::int64_t>(day.stepLen_cm) * day.step + 50) / 100);
    std::int64_t duration = 0;
    if (values.refEnergy >= 1)
        duration = static_cast<std::int64_t>(day.energy) * values.refDuration / values.refEnergy;
    else if (values.refStep >= 1)
        duration = static_cast<std::int64_t>(day.step) * values.refDuration / values.refStep;
    // Only a garbled text shares out more than an int holds; it is cut, never wrapped.
    if (duration > INT_MAX) {
        LOGF(LOG_WARNING, L"CPedometerWin::OrigDataToBussData_122", L"duration[%lld] cut to [%d]",
             static_cast<long long>(duration), INT_MAX);
        duration = INT_MAX;
    }
    day.duration = static_cast<int>(duration);
    day.status = L"1";
    day.valid = true;
    return true;
}

// The target's figures from dateDuration to periodDurationPercent, as the table and the
// server list them.
std::array<int*, 18> TargetFigures(struPedoTarget& t) {
    return {&t.dateDuration,       &t.startDate,         &t.targetStep,         &t.targetDistance,
            &t.targetEnergy,       &t.targetDuration,    &t.periodStartDate,    &t.periodEndDate,
            &t.periodStep,         &t.periodDistance,    &t.periodEnergy,       &t.periodDuration,
            &t.periodDateDuration, &t.periodDatePercent, &t.periodStepPercent,  &t.periodDistancePercent,
            &t.periodEnergyPercent, &t.periodDurationPercent};
}

// The info text's first kInfoFields '|' fields as integers; false when one is missing or
// not a number.
bool ReadInfoFields(const std::wstring& info, int (&fields)[kInfoFields]) {
    for (int i = 0; i < kInfoFields; ++i) {
        if (!text::ParseWholeInt(GetValue(info, i + 1, L'|', kInfoFieldMax), fields[i])) return false;
    }
    return true;
}

uie::value ElementRow(CHealthResources& resources, const wchar_t* id, int valueNo) {
    std::wstring text;
    resources.GetElementValueByValueNo(text, id, valueNo);
    return records::MakeObject({{L"healthElementID", uie::value(id)},
                                {L"valueNo", uie::value(valueNo)},
                                {L"value", uie::value(text)}});
}

// The daily step figure the device is given, from the target.
std::int64_t DailySteps(const struPedoTarget& t, const struPedoDeviceValues& v) {
    if (t.targetStep >= 1) return t.dateDuration >= 1 ? t.targetStep / t.dateDuration : t.targetStep;
    if (t.targetDistance >= 1) {
        if (v.pedoStepLong <= 0 || t.dateDuration <= 0) return -1;
        return static_cast<std::int64_t>(t.targetDistance) * 10 / v.pedoStepLong / t.dateDuration;
    }
    if (t.targetEnergy >= 1) {
        if (v.pedoWeight <= 0 || t.dateDuration <= 0) return -1;
        return static_cast<std::int64_t>(t.targetEnergy) * 20000 / v.pedoWeight / t.dateDuration;
    }
    return 0;
}

}  // namespace

// ---- periods the alerts read ----

int CPedometerWin::GetPeriodDatePercent() const {
    std::lock_guard lock(m_dataLock);
    return m_pedoTarget.periodDatePercent;
}

int CPedometerWin::GetPeriodLeadPercent() const {
    std::lock_guard lock(m_dataLock);
    return periodLeadPercent;
}

int CPedometerWin::LeadPercentOf(const struPedoTarget& t) {
    for (const int percent :
         {t.periodStepPercent, t.periodDistancePercent, t.periodEnergyPercent, t.periodDurationPercent}) {
        if (percent > 0) return percent;
    }
    return -1;
}

bool CPedometerWin::HasRankFields(const std::wstring& reply, int first) {
    return records::ReplyFieldCount(reply) >= first + kRankFields - 1;
}

struPedoRank CPedometerWin::ReadRankFields(const std::wstring& reply, int first) {
    struPedoRank r;
    int* const order[kRankFields] = {&r.all_rank,      &r.all_rankRate,      &r.last_all_rank, &r.last_all_rankRate,
                                     &r.avg_rank,      &r.avg_rankRate,      &r.last_avg_rank, &r.last_avg_rankRate,
                                     &r.diff_all_rank, &r.diff_all_rankRate, &r.diff_avg_rank, &r.diff_avg_rankRate};
    for (int i = 0; i < kRankFields; ++i) *order[i] = records::ReplyInt(reply, first + i);
    return r;
}

// ---- conversion ----

int CPedometerWin::OrigDataToBussData() {
    int sourceNo = 0;
    {
        std::lock_guard lock(m_dataLock);
        sourceNo = m_deviceOrigData.sourceNo;
    }
    return sourceNo == kDaySource ? OrigDataToBussData_122() : 0;
}

int CPedometerWin::OrigDataToBussData_122() {
    const struDeviceOrigData orig = GetDeviceOrigData();
    struDeviceBussData buss;
    try {
        // Always a fresh array of exactly 31: demo rows never outlive a conversion.
        buss.pDeviceDataList.resize(struDeviceBussData::kDeviceDays);
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, L"CPedometerWin::OrigDataToBussData_122", L"new struDeviceDataList_122W fail!");
        return -1;
    }
    buss.userNo = orig.userNo;
    buss.sourceNo = orig.sourceNo;
    buss.deviceID = orig.deviceID;
    struPedoDeviceValues values;
    const std::wstring& text = orig.origData;
    DecodeDeviceValues(text, values);

    const int today = GetCurDate();
    for (int d = 0; d < static_cast<int>(struDeviceBussData::kDeviceDays); ++d) {
        const int p = (d == 0 ? kTodayBlock : 4 + d) * kBlockChars;
        if (d >= 1 && static_cast<int>(text.size()) < p + 9) {
            LOGF(LOG_ERROR, L"CPedometerWin::OrigDataToBussData_122", L"m_deviceOrigData.origData length[%d][%d] ? ",
                 static_cast<int>(text.size()), p + 9);
            break;
        }
        struDeviceDataList_122W& day = buss.pDeviceDataList[static_cast<std::size_t>(d)];
        day.recDate = d == 0 ? today : DateBefore(today, d);
        if (DecodeDay(text, p, values, day)) ++buss.recordCount;
    }

    std::lock_guard lock(m_dataLock);
    m_devValues = values;
    m_deviceBussData = std::move(buss);
    return m_deviceBussData.recordCount;
}

// ---- statements ----

int CPedometerWin::PedoDataListSave_122(std::vector<std::wstring>& statements) const {
    const struDeviceBussData buss = GetDeviceBussData();
    if (buss.recordCount <= 0) return 0;
    std::vector<std::wstring> made{L"delete from tDeviceDataList_122 where deviceID='VirtualData' "};
    std::wstring dates;
    const std::wstring deviceID = text::QuoteSql(buss.deviceID);
    std::vector<std::wstring> inserts;
    for (const struDeviceDataList_122W& day : buss.pDeviceDataList) {
        if (!day.valid) continue;
        dates += (dates.empty() ? L"" : L",") + std::to_wstring(day.recDate);
        std::wstring insert;
        if (!FormatCut(insert, kInsertChars,
                       L"insert into tDeviceDataList_122 (userNo, recDate, stepLen_cm, step, distance, energy, "
                       L"duration, generatedTime, deviceID, status, note)     values (%0d, %0d, %0d, %0d, %0d, %0d, "
                       L"%0d, datetime('now','localtime'),'%s', '%s','%s'); ",
                       buss.userNo, day.recDate, day.stepLen_cm, day.step, day.distance, day.energy, day.duration,
                       deviceID.c_str(), text::QuoteSql(day.status).c_str(), text::QuoteSql(day.note).c_str()))
            return -1;
        inserts.push_back(std::move(insert));
    }
    if (inserts.empty()) return 0;
    made.push_back(L"delete from tDeviceDataList_122 where recDate in (" + dates + L");");
    made.insert(made.end(), inserts.begin(), inserts.end());
    statements.insert(statements.end(), made.begin(), made.end());
    return 0;
}

bool CPedometerWin::ReadPedoTargetFromDB() {
    static const std::wstring kSql =
        L"select userNo,dateDuration,startDate,targetStep,targetDistance,targetEnergy,targetDuration,periodStartDate,"
        L"periodEndDate,periodStep,periodDistance,periodEnergy,periodDuration,periodDateDuration,periodDatePercent,"
        L"periodStepPercent,periodDistancePercent,periodEnergyPercent,periodDurationPercent,userID,status,note from "
        L"tPedoTarget;";
    CMyDatabase* db = g_pMyDatabase;
    SqlRows rows;
    const int result = db != nullptr ? db->SelectTableWithReturn(kSql, rows) : -1;
    if (result != 0) {
        LOGF(LOG_ERROR, L"CPedometerWin::ReadPedoTargetFromDB", L"%s[%d]", kSql.c_str(), result);
        return false;
    }
    if (rows.empty()) return true;
    const std::vector<std::wstring>& row = rows.front();
    std::lock_guard lock(m_dataLock);
    struPedoTarget& t = m_pedoTarget;
    std::size_t c = 1;  // userNo stays
    for (int* field : TargetFigures(t))
        *field = records::ColumnInt(row, c++);
    t.userID = records::ColumnText(row, c++);
    t.status = records::ColumnText(row, c++);
    t.note = records::ColumnText(row, c++);
    periodLeadPercent = LeadPercentOf(t);
    return true;
}

int CPedometerWin::PedoTargetSave(std::vector<std::wstring>& statements, const struPedoTarget& t) const {
    std::wstring update;
    if (!FormatCut(update, kTargetChars,
                   L"update tPedoTarget set userNo=%0d, dateDuration=%0d,     \tstartDate=%0d, targetStep=%d, "
                   L"targetDistance=%0d, targetEnergy=%0d,        targetDuration=%0d,periodStartDate=%0d,"
                   L"periodEndDate=%0d,periodStep=%0d,        periodDistance=%0d,periodEnergy=%0d,periodDuration=%0d ,"
                   L"        periodDateDuration=%0d,periodDatePercent=%0d,periodStepPercent=%0d,        "
                   L"periodDistancePercent=%0d,periodEnergyPercent=%0d,periodDurationPercent=%0d,        "
                   L"userID='%s',status='%s',note='%s';",
                   t.userNo, t.dateDuration, t.startDate, t.targetStep, t.targetDistance, t.targetEnergy,
                   t.targetDuration, t.periodStartDate, t.periodEndDate, t.periodStep, t.periodDistance,
                   t.periodEnergy, t.periodDuration, t.periodDateDuration, t.periodDatePercent, t.periodStepPercent,
                   t.periodDistancePercent, t.periodEnergyPercent, t.periodDurationPercent,
                   text::QuoteSql(t.userID).c_str(), text::QuoteSql(t.status).c_str(), text::QuoteSql(t.note).c_str()))
        return -1;
    statements.push_back(std::move(update));
    return 0;
}

// ---- demo days ----

int CPedometerWin::GenVirtualData(int sourceNo, const uie::value& rows, const std::wstring& deviceID) {
    std::vector<std::wstring> statements;
    if (sourceNo == kDaySource) {
        struDeviceBussData buss;
        try {
            buss.pDeviceDataList.reserve(rows.length());
        } catch (const std::bad_alloc&) {
            LOGF(LOG_ERROR, L"CPedometerWin::GenVirtualData", L"new struDeviceDataList_122W fail!");
            return -1;
        }
        buss.userNo = LoggedInUserNo();
        buss.deviceID = deviceID;
        for (std::size_t i = 0; i < rows.length(); ++i) {
            const uie::value row = rows.nth(i);
            if (!row.is_map()) {
                LOGF(LOG_WARNING, L"CPedometerWin::GenVirtualData", L"row[%d] is not a map", static_cast<int>(i));
                continue;
            }
            struDeviceDataList_122W& day = buss.pDeviceDataList.emplace_back();
            day.recDate = records::MemberInt(row, L"recDate", 0);
            day.step = records::MemberInt(row, L"step", 0);
            day.stepLen_cm = records::MemberInt(row, L"stepLen_cm", 0);
            day.distance = records::MemberInt(row, L"distance", 0);
            day.energy = records::MemberInt(row, L"energy", 0);
            day.duration = records::MemberInt(row, L"duration", 0);
            day.generatedTime = records::MemberText(row, L"generatedTime");
            day.status = L"1";
            day.valid = true;
        }
        buss.recordCount = static_cast<int>(buss.pDeviceDataList.size());
        {
            std::lock_guard lock(m_dataLock);
            buss.sourceNo = m_deviceOrigData.sourceNo;
            m_deviceBussData = std::move(buss);
        }
        const int saved = PedoDataListSave_122(statements);
        if (saved < 0) {
            LOGF(LOG_WARNING, L"CPedometerWin::GenVirtualData", L"PedoDataListSave:[%d]", saved);
            return saved;
        }
    }
    const int result = StoreStatements(L"CPedometerWin::GenVirtualData", L"GenVirtualData", statements);
    if (result < 0) return result;
    PostRefreshPedoData(0);
    return 0;
}

// ---- upload and reply ----

int CPedometerWin::UploadOrigData(int) {
    const struDeviceOrigData orig = GetDeviceOrigData();
    CCommunication* comm = g_pCommunication;
    return comm != nullptr ? comm->PedometerOrigDataUpLoad_asyn(orig) : -1;
}

int CPedometerWin::BussDataProc_OrigData_Info_122(std::vector<std::wstring>& statements, const std::wstring& info,
                                                  struPedoInfoReply& out) const {
    int f[kInfoFields] = {};
    // A short or garbled text would store a zero birthday, height, weight and target.
    if (!ReadInfoFields(info, f)) return -1;
    std::wstring update;
    if (!FormatCut(update, kUserExpChars,
                   L"update tUserExp set userSex = '%d', userBirthday = %0d, userHeight = %0d, userWeight = %0d ;",
                   f[0], f[1], f[2], f[3]))
        return -1;
    out.sex = f[0];
    out.birthday = f[1];
    out.height = f[2];
    out.weight = f[3];
    out.stepLength = f[4];
    struPedoTarget& t = out.target;
    t = GetPedoTarget();
    int i = 5;
    for (int* field : TargetFigures(t))
        *field = f[i++];
    t.userNo = GetDeviceBussData().userNo;
    statements.push_back(std::move(update));
    return 0;
}

void CPedometerWin::ApplyInfo_122(const struPedoInfoReply& info) {
    struDeviceDataList_122W today;
    {
        std::lock_guard lock(m_dataLock);
        m_devValues.pedoWeight = info.weight;
        m_devValues.pedoStepLong = info.stepLength;
        m_pedoTarget = info.target;
        periodLeadPercent = LeadPercentOf(m_pedoTarget);
        if (m_deviceBussData.recordCount > 0 && !m_deviceBussData.pDeviceDataList.empty())
            today = m_deviceBussData.pDeviceDataList.front();
    }
    CHealthResources* resources = g_pHealthResources;
    if (resources == nullptr) return;
    uie::value rows = uie::value::make_array();
    rows.append(ElementRow(*resources, L"sex", info.sex));
    rows.append(ElementRow(*resources, L"age", info.birthday));
    rows.append(ElementRow(*resources, L"height", info.height));
    rows.append(ElementRow(*resources, L"weight", info.weight));
    rows.append(ElementRow(*resources, L"pedoStepLength", info.stepLength));
    if (today.valid) {
        rows.append(ElementRow(*resources, L"pedoNumberOfSteps", today.step));
        rows.append(ElementRow(*resources, L"pedoCalorieExpenditure", today.energy));
        rows.append(ElementRow(*resources, L"pedoDistance", today.distance));
        rows.append(ElementRow(*resources, L"pedoValidTime", today.duration));
    }
    uie::value batch = uie::value::make_map();
    batch.set_item(uie::value(L"recordDataList"), rows);
    const int result = resources->SetHealthElementValue_Batch(batch);
    if (result < 0)
        LOGF(LOG_WARNING, L"CPedometerWin::BussDataProc_OrigData_Info_122", L"SetHealthElementValue_Batch:[%d]",
             result);
}

int CPedometerWin::BussDataProc_OrigData(const std::wstring& reply) {
    int retCode = 0;
    if (!text::ParseWholeInt(records::ReplyField(reply, 1), retCode)) {
        LOGF(LOG_WARNING, L"CPedometerWin::BussDataProc_OrigData", L"reply[%s]", reply.c_str());
        return m_uploadState.End(0, -1, records::ReplyField(reply, 2));
    }
    if (retCode < 0) return m_uploadState.End(0, retCode, records::ReplyField(reply, 2));
    if (!records::HasFields(L"CPedometerWin::BussDataProc_OrigData", COMMAND_PEDOMETER_ORIGDATA_UPLOAD, reply,
                            kReplyStoredFields))
        return m_uploadState.End(0, -1, records::ReplyField(reply, 2));

    if (HasRankFields(reply, kReplyRankFirst)) {
        const struPedoRank rank = ReadRankFields(reply, kReplyRankFirst);
        std::lock_guard lock(m_dataLock);
        m_pedoRank = rank;
    }
    std::vector<std::wstring> statements;
    const int sourceNo = records::ReplyInt(reply, 4);
    CDeviceManager* devices = g_pDeviceManager;
    const int registered =
        devices != nullptr ? devices->UserDeviceProc(&statements, sourceNo, records::ReplyField(reply, 5)) : -1;
    if (registered < 0) return m_uploadState.End(registered, registered, L"设备注册处理失败!");

    struPedoInfoReply info;
    bool infoOk = false;
    if (sourceNo == kDaySource) {
        const std::wstring text = records::ReplyField(reply, 7, records::kReplyWholeMax);
        const int r = BussDataProc_OrigData_Info_122(statements, text, info);
        infoOk = r >= 0;
        if (!infoOk)
            LOGF(LOG_WARNING, L"CPedometerWin::BussDataProc_OrigData", L"BussDataProc_OrigData_Info_122:[%s][%d]",
                 text.c_str(), r);
    }
    const int targetSaved = PedoTargetSave(statements, infoOk ? info.target : GetPedoTarget());
    if (targetSaved < 0) LOGF(LOG_ERROR, L"CPedometerWin::BussDataProc_OrigData", L"目标数据失败:[%d]", targetSaved);
    if (sourceNo == kDaySource) {
        const int daysSaved = PedoDataListSave_122(statements);
        if (daysSaved < 0)
            LOGF(LOG_ERROR, L"CPedometerWin::BussDataProc_OrigData", L"PedoDataListSave:[%d]", daysSaved);
    }

    int result = StoreStatements(L"CPedometerWin::BussDataProc_OrigData", L"BussDataProc_OrigData", statements);
    if (result < 0) {
        // The registration went into the map but not into the table.
        if (devices != nullptr) devices->ReadUserDeviceFromDB();
        return m_uploadState.End(result, retCode, L"处理数据失败：ExecSQLSet。");
    }
    if (infoOk) ApplyInfo_122(info);
    if (GetResponseType() == 1) {
        result = SetDevOption_122();
        if (result < 0) {
            LOGF(LOG_ERROR, L"CPedometerWin::BussDataProc_OrigData", L"BussDataProc_OrigData:SetDevOption_122[%d]",
                 result);
            return m_uploadState.End(result, retCode, L"处理失败：拔插设备后重新再试。");
        }
    }
    if (CMainFrame* frame = g_pMainFrame) frame->PostHomePageUserInfo();
    PostRefreshPedoData(1);
    return m_uploadState.End(result, 0, L"处理成功.");
}

// ---- device settings ----

int CPedometerWin::SetDevOption_122() {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    struHealthElementSourceTypeW* source = sources != nullptr ? sources->GetSourceType(kDaySource) : nullptr;
    struModuleInterface* module = source != nullptr ? source->moduleInterface.load() : nullptr;
    if (module == nullptr || module->SetModuleDevOption == nullptr) return -1;
    struPedoTarget target;
    struPedoDeviceValues values;
    {
        std::lock_guard lock(m_dataLock);
        target = m_pedoTarget;
        values = m_devValues;
    }
    char option[64];
    std::snprintf(option, sizeof option, "%d%c%d%c%d%c%lld%c", values.pedoStepLong, '|', values.pedoWeight, '|',
                  target.targetDuration, '|', static_cast<long long>(DailySteps(target, values)), '|');
    std::lock_guard call(module->callLock);
    return module->SetModuleDevOption(option);
}

// ---- copies ----

struDeviceOrigData CPedometerWin::GetDeviceOrigData() const {
    std::lock_guard lock(m_dataLock);
    return m_deviceOrigData;
}

struDeviceBussData CPedometerWin::GetDeviceBussData() const {
    std::lock_guard lock(m_dataLock);
    return m_deviceBussData;
}

struPedoDeviceValues CPedometerWin::GetDeviceValues() const {
    std::lock_guard lock(m_dataLock);
    return m_devValues;
}

struPedoTarget CPedometerWin::GetPedoTarget() const {
    std::lock_guard lock(m_dataLock);
    return m_pedoTarget;
}

struPedoRank CPedometerWin::GetPedoRank() const {
    std::lock_guard lock(m_dataLock);
    return m_pedoRank;
}

int CPedometerWin::GetResponseType() const {
    std::lock_guard lock(m_dataLock);
    return responseType;
}

void CPedometerWin::SetResponseType(int type) {
    std::lock_guard lock(m_dataLock);
    responseType = type;
}
