// The value writers of the health elements: batches from pages, devices and the other
// data classes, single recorded values, and the values the server sends (0x1092).
// Memory changes only after the database write succeeded.
#include <climits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "FloatBarWin.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"

namespace {

using uie::value;

constexpr std::size_t kBatchSqlChars = 780;
constexpr std::size_t kRecordSqlChars = 1300;
constexpr std::size_t kServerSqlChars = 780;
constexpr std::size_t kServerRecordMax = 780;
constexpr int kServerFieldMax = 260;
constexpr int kServerRecordFields = 6;  // user, id, number, text, source, time

constexpr wchar_t kUpdateFormat[] =
    L"update tHealthElement set valueNo=%d, value='%s', sourceNo=%d, valueGeneratedTime='%s', syncNo=%0d, "
    L"modifyTime=datetime('now','localtime') where healthElementID='%s';";
constexpr wchar_t kBatchInsertFormat[] =
    L"insert into tHealthElementDataList (userNo,recNo, recDate, valueNo, lastValueNo, value, lastValue, unitName, "
    L"healthElementID, healthElementName,healthElementType, healthElementTypeName, sourceNo, sourceName, "
    L"valueGeneratedTime, lastRecNo, lastOpCode,status, note, modifyTime) values (%d, %d, %d, %d, %d, '%s', '%s', "
    L"'%s', '%s', '%s', %d, '%s', %d, '%s','%s', %d, '%s', '%s', '%s', %s);";
// The single value's form: the same columns, with a tab and a blank in four places.
constexpr wchar_t kRecordInsertFormat[] =
    L"insert into tHealthElementDataList (userNo,\t recNo, recDate, valueNo, lastValueNo, value, lastValue, "
    L"unitName, healthElementID, healthElementName,\t healthElementType, healthElementTypeName, sourceNo, sourceName, "
    L"valueGeneratedTime, lastRecNo, lastOpCode,\t status, note, modifyTime) values (%d, %d, %d, %d, %d, '%s', '%s', "
    L"'%s', '%s', '%s', %d, '%s', %d, '%s',\t '%s', %d, '%s', '%s', '%s', %s);";
constexpr wchar_t kServerUpdateFormat[] =
    L"update tHealthElement set valueNo=%d, value='%s', sourceNo=%d, valueGeneratedTime='%s' where userNo=%d and "
    L"healthElementID='%s'";
constexpr wchar_t kNow[] = L"datetime('now','localtime')";

const struHealthElementTypeW* TypeRecord(int type) {
    const CHealthElementType* types = g_pHealthElementType;
    return types != nullptr ? types->GetHealthElementType(type) : nullptr;
}

const struHealthElementSourceTypeW* SourceRecord(int sourceNo) {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    return sources != nullptr ? sources->GetSourceType(sourceNo) : nullptr;
}

int SyncNoOf(const struHealthElementW& e) { return e.syncFlag == L"1" ? 1 : 0; }

void Upload(const struHealthElementW& e) {
    if (CCommunication* comm = g_pCommunication) comm->UploadElementValue_asyn(e);
}

bool FormatUpdate(std::wstring& out, std::size_t chars, const struHealthElementW& e, int valueNo,
                  const std::wstring& text, int sourceNo, const std::wstring& generatedTime) {
    return FormatCut(out, chars, kUpdateFormat, valueNo, text::QuoteSql(text).c_str(), sourceNo,
                     text::QuoteSql(generatedTime).c_str(), SyncNoOf(e), text::QuoteSql(e.healthElementID).c_str());
}

// A history row: the element as it was, and what it becomes.
struct HistoryRow {
    const struHealthElementW& before;
    const struHealthElementTypeW& type;
    const struHealthElementSourceTypeW& source;
    int recNo;
    int valueNo;
    const std::wstring& text;
    const std::wstring& generatedTime;  // the time column
};

bool FormatHistory(std::wstring& out, std::size_t chars, const wchar_t* format, const HistoryRow& r) {
    const struHealthElementW& e = r.before;
    const std::wstring note =
        r.source.sourceNo != e.sourceNo ? L"原sourceNo[" + std::to_wstring(e.sourceNo) + L"] " + e.note : e.note;
    const auto q = [](const std::wstring& s) { return text::QuoteSql(s); };
    return FormatCut(out, chars, format, LoggedInUserNo(), r.recNo, GetCurDate(), r.valueNo, e.valueNo,
                     q(r.text).c_str(), q(e.value).c_str(), q(e.unitName).c_str(), q(e.healthElementID).c_str(),
                     q(e.healthElementName).c_str(), e.healthElementType, q(r.type.healthElementTypeName).c_str(),
                     r.source.sourceNo, q(r.source.sourceName).c_str(), q(r.generatedTime).c_str(), -1, L"0",
                     q(e.status).c_str(), q(note).c_str(), kNow);
}

// Serial numbers of element history rows; negative (logged) when none could be had.
int ReserveSerials(const wchar_t* function, int count) {
    CMyDatabase* db = g_pMyDatabase;
    const int first = db != nullptr ? db->MakeSerialNo(CHealthResources::kSerialElementData, count) : -1;
    if (first < 0) LOGF(LOG_ERROR, function, L"MakeSerialNo[%d]", first);
    return first;
}

int RunInOneTransaction(const std::vector<std::wstring>& statements) {
    CMyDatabase* db = g_pMyDatabase;
    return db != nullptr ? db->ExecSQLSet(statements, true) : -1;
}

// An integer field of the server: an optional sign and digits, nothing else.
std::optional<int> IntegerField(const std::wstring& field) {
    std::size_t i = field.size() > 0 && (field[0] == L'-' || field[0] == L'+') ? 1 : 0;
    if (i == field.size() || field.size() > 11) return std::nullopt;
    for (; i < field.size(); ++i) {
        if (field[i] < L'0' || field[i] > L'9') return std::nullopt;
    }
    const long long n = std::stoll(field);
    if (n < INT_MIN || n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

}  // namespace

struct CHealthResources::BatchItem {
    std::wstring id;
    int valueNo = -1;
    std::wstring text;
    int sourceNo = -1;
    std::wstring generatedTime;
    bool record = true;   // a history row, and the upload
    bool stored = false;  // pass 1 wrote it: only these reach memory
};

struct CHealthResources::ServerValue {
    std::wstring id;
    int valueNo = 0;
    std::wstring text;
    int sourceNo = 0;
    std::wstring generatedTime;
};

std::optional<struHealthElementW> CHealthResources::StoreInMemory(const std::wstring& id, int valueNo,
                                                                  const std::wstring& text, int sourceNo,
                                                                  const std::wstring& generatedTime) {
    std::optional<struHealthElementW> after;
    WithElement(id, [&](struHealthElementW& e) {
        e.valueNo = valueNo;
        e.value = text;
        e.sourceNo = sourceNo;
        e.valueGeneratedTime = generatedTime;
        after = e;
    });
    return after;
}

void CHealthResources::PostRefreshFunc(const struHealthElementW& element) {
    CMainFrame* const frame = g_pMainFrame;
    if (frame != nullptr && !element.refreshFunc.empty())
        frame->PostScriptCallW(frame->GetRootElement(), element.refreshFunc.c_str());
}

// ---- the batch ----------------------------------------------------------------------------------

int CHealthResources::SetHealthElementValue_Batch(const value& items) {
    // Callers that hand over computed rows wrap them as {"recordDataList": [rows]}.
    const value list = items.is_map() ? items.get_item(value(L"recordDataList")) : items;
    if (!list.is_array()) {
        LOGF(LOG_ERROR, L"CHealthResources::SetHealthElementValue_Batch", L"no item list");
        return -1;
    }
    std::vector<BatchItem> batch;
    try {
        batch.resize(list.length());
    } catch (const std::bad_alloc&) {
        return -1;
    }
    int recorded = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const value item = list.nth(i);
        BatchItem& b = batch[i];
        b.id = records::MemberText(item, L"healthElementID");
        b.valueNo = records::MemberInt(item, L"valueNo", -1);
        b.text = records::MemberText(item, L"value");
        b.sourceNo = records::MemberInt(item, L"sourceNo", -1);
        b.generatedTime = records::MemberText(item, L"valueGeneratedTime");
        b.record = records::MemberInt(item, L"recordDataList", 1) == 1;
        if (b.record) ++recorded;
    }
    // Without serial numbers the values are still stored, only without history rows.
    const int firstSerial = recorded > 0 ? ReserveSerials(L"CHealthResources::SetHealthElementValue_Batch", recorded) : -1;
    const std::vector<std::wstring> statements = BatchStatements(batch, firstSerial);
    const int result = statements.empty() ? 0 : RunInOneTransaction(statements);
    if (result != 0) {
        LOGF(LOG_ERROR, L"CHealthResources::SetHealthElementValue_Batch", L"批量写库失败:[%d]", result);
        return result;
    }
    BatchApply(batch);
    return 0;
}

std::vector<std::wstring> CHealthResources::BatchStatements(std::vector<BatchItem>& items, int firstSerial) {
    std::vector<std::wstring> statements;
    int historyRows = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) Sleep(1);
        BatchItem& item = items[i];
        const auto e = FindElement(item.id);
        if (!e) continue;
        if (item.sourceNo <= 0) item.sourceNo = e->sourceNo;
        const struHealthElementTypeW* type = TypeRecord(e->healthElementType);
        const struHealthElementSourceTypeW* source = SourceRecord(item.sourceNo);
        if (type == nullptr || source == nullptr) continue;
        if (item.generatedTime.empty()) item.generatedTime = GetCurTimeStr();

        std::wstring update;
        if (!FormatUpdate(update, kBatchSqlChars, *e, item.valueNo, item.text, item.sourceNo, item.generatedTime))
            continue;
        statements.push_back(std::move(update));
        item.stored = true;
        if (!item.record || e->healthElementType == kTypeNoHistory || firstSerial < 0) continue;
        std::wstring insert;
        const HistoryRow row{*e, *type, *source, firstSerial + historyRows, item.valueNo, item.text,
                             item.generatedTime};
        if (!FormatHistory(insert, kBatchSqlChars, kBatchInsertFormat, row)) continue;
        statements.push_back(std::move(insert));
        ++historyRows;
    }
    return statements;
}

void CHealthResources::BatchApply(const std::vector<BatchItem>& items) {
    bool first = true;
    for (const BatchItem& item : items) {
        if (!item.stored) continue;
        if (!first) Sleep(1);
        first = false;
        const auto e = StoreInMemory(item.id, item.valueNo, item.text, item.sourceNo, item.generatedTime);
        if (!e) continue;
        PostRefreshFunc(*e);
        if (item.record && e->syncFlag == L"1" && e->healthElementType != kTypeNoHistory) Upload(*e);
        QueueElementRefresh(*e);
    }
}

// ---- one value ------------------------------------------------------------------------------------

int CHealthResources::RecordElementValueUpdate(const struHealthElementW* element, int valueNo,
                                               const std::wstring& valueText, int sourceNo,
                                               const std::wstring& generatedTime, bool queue) {
    if (element == nullptr) return -1;
    const struHealthElementW& e = *element;
    const struHealthElementTypeW* type = TypeRecord(e.healthElementType);
    if (type == nullptr) return -2;
    const struHealthElementSourceTypeW* source = SourceRecord(sourceNo);
    if (source == nullptr) return -3;
    std::wstring update;
    if (!FormatUpdate(update, kRecordSqlChars, e, valueNo, valueText, sourceNo, generatedTime)) return -4;
    if (e.healthElementType == kTypeNoHistory && valueNo == e.valueNo) return 0;

    const int recNo = ReserveSerials(L"CHealthResources::RecordElementValueUpdate", 1);
    if (recNo < 0) return -5;
    std::wstring insert;
    // The history row keeps the time of the value it replaces.
    const HistoryRow row{e, *type, *source, recNo, valueNo, valueText, e.valueGeneratedTime};
    if (!FormatHistory(insert, kRecordSqlChars, kRecordInsertFormat, row)) return -6;

    const std::vector<std::wstring> statements{update, insert};
    const int result = RunInOneTransaction(statements);
    if (result != 0) {
        for (const std::wstring& sql : statements)
            LOGF(LOG_ERROR, L"CHealthResources::RecordElementValueUpdate", L"SQL[%d][%s]", result, sql.c_str());
        return result;
    }
    const auto after = StoreInMemory(e.healthElementID, valueNo, valueText, sourceNo, generatedTime);
    if (after && queue) QueueElementRefresh(*after);
    if (after && after->syncFlag == L"1") Upload(*after);
    return 0;
}

int CHealthResources::RecordElementValue(const struHealthElementW* element, int valueNo,
                                         const std::wstring& generatedTime, bool queue) {
    if (element == nullptr || TypeRecord(element->healthElementType) == nullptr ||
        SourceRecord(element->sourceNo) == nullptr)
        return -1;
    return RecordElementValueUpdate(element, valueNo, ElementValueNoToValue(*element, valueNo), element->sourceNo,
                                    generatedTime, queue);
}

int CHealthResources::SetElementValue(const std::wstring& id, int valueNo, const std::wstring& valueText,
                                      int sourceNo, bool record, bool queue) {
    const auto e = FindElement(id);
    if (!e) return -1;
    if (record) {
        return RecordElementValueUpdate(&*e, valueNo, valueText, sourceNo > 0 ? sourceNo : e->sourceNo,
                                        GetCurTimeStr(), queue);
    }
    if (queue) QueueElementRefreshById(id);
    return 0;
}

int CHealthResources::SetElementValueNo(const std::wstring& id, int valueNo, bool record, bool queue) {
    const auto e = FindElement(id);
    if (!e) return -1;
    if (record) {
        // Not queued by the store: the list goes to the page once, below.
        const int stored = RecordElementValue(&*e, valueNo, GetCurTimeStr(), false);
        if (stored != 0) return stored;  // nothing changed, nothing to show
    } else {
        const std::wstring text = ElementValueNoToValue(*e, valueNo);
        const std::wstring now = GetCurTimeStr();
        WithElement(id, [&](struHealthElementW& live) {
            live.valueNo = valueNo;
            live.value = text;
            live.valueGeneratedTime = now;
        });
    }
    PostRefreshFunc(*e);
    if (queue) QueueElementRefreshById(id);

    CMainFrame* const frame = g_pMainFrame;
    if (e->healthElementType == kTypeWeather) {
        if (frame != nullptr) frame->PostHomePageRealWeather();
        CFloatBarWin* const bar = g_pFloatBarWin;
        if (CPopWin* surround = bar != nullptr ? bar->GetPopup(CFloatBarWin::kSurround) : nullptr)
            surround->PostFloatUserEnvRealWeather();
    } else if ((id == L"sex" || id == L"age") && frame != nullptr) {
        frame->PostHomePageUserInfo();
    }
    return 0;
}

// ---- the server's values ----------------------------------------------------------------------------

std::vector<CHealthResources::ServerValue> CHealthResources::ReadServerValues(const std::wstring& reply,
                                                                             int& stoppedAt) const {
    constexpr wchar_t kFn[] = L"CHealthResources::BussDataProc_HealthElementValue";
    const int userNo = LoggedInUserNo();
    std::vector<ServerValue> values;
    int n = 1;
    for (;; ++n) {
        // Read whole, so a long record is seen as long rather than cut.
        const std::wstring record = GetValue(reply, n, L'\x03', static_cast<int>(reply.size()) + 1);
        if (record.empty()) break;
        if (record.size() >= kServerRecordMax) {
            LOGF(LOG_ERROR, kFn, L"wcslen(szSQL) >= MAX_PATH*3");
            break;
        }
        const auto field = [&record](int i) { return GetValue(record, i, L'\x02', kServerFieldMax); };
        const std::wstring user = field(1);
        if (IntegerField(user) != userNo) {
            LOGF(LOG_ERROR, kFn, L"user[%s] error.", user.c_str());
            break;
        }
        ServerValue v{field(2), 0, field(4), 0, field(6)};
        const auto valueNo = IntegerField(field(3));
        const auto sourceNo = IntegerField(field(5));
        if (records::ReplyFieldCount(record) < kServerRecordFields || v.id.empty() || !valueNo || !sourceNo) {
            LOGF(LOG_WARNING, kFn, L"record[%d] refused:[%s]", n, record.c_str());
            continue;
        }
        v.valueNo = *valueNo;
        v.sourceNo = *sourceNo;
        values.push_back(std::move(v));
    }
    stoppedAt = n;
    return values;
}

int CHealthResources::BussDataProc_HealthElementValue(const std::wstring& reply) {
    int stoppedAt = 1;
    std::vector<ServerValue> values = ReadServerValues(reply, stoppedAt);
    std::vector<std::wstring> statements;
    std::vector<ServerValue> stored;
    const int userNo = LoggedInUserNo();
    for (ServerValue& v : values) {
        std::wstring sql;
        if (!FormatCut(sql, kServerSqlChars, kServerUpdateFormat, v.valueNo, text::QuoteSql(v.text).c_str(),
                       v.sourceNo, text::QuoteSql(v.generatedTime).c_str(), userNo,
                       text::QuoteSql(v.id).c_str()))
            continue;
        statements.push_back(std::move(sql));
        stored.push_back(std::move(v));
    }
    if (statements.empty()) return stoppedAt;
    const int result = RunInOneTransaction(statements);
    if (result < 0) {
        LOGF(LOG_ERROR, L"CHealthResources::BussDataProc_HealthElementValue", L"ExecSQLSet fail[%d].", result);
        return -1;
    }
    for (const ServerValue& v : stored) StoreInMemory(v.id, v.valueNo, v.text, v.sourceNo, v.generatedTime);
    if (CMainFrame* const frame = g_pMainFrame) frame->PostPageInit();
    return stoppedAt;
}
