#include "lifeIndex.h"

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "FeedKit.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "PopWin.h"
#include "Text.h"
#include "global.h"

CLifeIndex* g_pLifeIndex = nullptr;

namespace {

constexpr wchar_t kProc[] = L"CLifeIndex::BussDataProc";

// The fields by their position, which the table's columns and the reply's fields share.
template <class IntAt, class TextAt>
struLiveIndexW Fill(IntAt intAt, TextAt textAt) {
    struLiveIndexW r;
    r.areaCodeNo = intAt(0);
    r.solarCalendar = intAt(1);
    r.pubTime = textAt(2);
    r.liveIndexMessNo = intAt(3);
    r.gatherTime = textAt(4);
    r.indexID = textAt(5);
    r.indexLevel = textAt(6);
    r.indexNote = textAt(7);
    r.status = textAt(8);
    r.note = textAt(9);
    return r;
}

struLiveIndexW FromRow(const std::wstring& row) {
    return Fill([&row](int i) { return records::ReplyInt(row, i + 1); },
                [&row](int i) { return records::ReplyField(row, i + 1); });
}

struLiveIndexW FromColumns(const std::vector<std::wstring>& c) {
    struLiveIndexW r = Fill([&c](int i) { return records::ColumnInt(c, static_cast<std::size_t>(i)); },
                            [&c](int i) { return records::ColumnText(c, static_cast<std::size_t>(i)); });
    r.modifyTime = records::ColumnText(c, 10);
    return r;
}

uie::value LifeIndexMap(const struLiveIndexW& r) {
    using uie::value;
    return records::MakeObject({
        {L"areaCodeNo", value(r.areaCodeNo)},
        {L"solarCalendar", value(r.solarCalendar)},
        {L"pubTime", value(r.pubTime)},
        {L"liveIndexMessNo", value(r.liveIndexMessNo)},
        {L"gatherTime", value(r.gatherTime)},
        {L"indexID", value(r.indexID)},
        {L"indexLevel", value(r.indexLevel)},
        {L"indexNote", value(r.indexNote)},
        {L"status", value(r.status)},
        {L"note", value(r.note)},
        {L"modifyTime", value(r.modifyTime)},
    });
}

}  // namespace

CLifeIndex::CLifeIndex() = default;

int CLifeIndex::LoadFromDB(int areaCodeNo) {
    Clear();
    ReadLifeIndexFromDB(areaCodeNo);
    return 0;
}

void CLifeIndex::Clear() {
    std::lock_guard lock(m_lock);
    m_records.fill(struLiveIndexW{});
    m_nLiveIndexMessNo = -1;
}

int CLifeIndex::ReadLifeIndexFromDB(int areaCodeNo) {
    std::wstring head;
    FormatCut(head, 260, L"select * from tLiveIndex where areaCodeNo = %0d ", areaCodeNo);
    // Appended as it stands: "%Y" is SQLite's, not a format conversion.
    const std::wstring sql = head + L"and solarCalendar = " + records::kLocalToday + L" limit 6;";
    int read = 0;
    const int result = records::SelectOwnConnection(
        L"CLifeIndex::ReadLifeIndexFromDB", L"ReadLifeIndexFromDB", sql, [this, &read](const std::vector<std::wstring>& c) {
            const struLiveIndexW r = FromColumns(c);
            std::lock_guard lock(m_lock);
            m_records[static_cast<std::size_t>(read)] = r;
            if (read == 0) m_nLiveIndexMessNo = r.liveIndexMessNo;
            return ++read < kMaxRecords;
        });
    std::lock_guard lock(m_lock);
    m_nCount = read;
    return result;
}

int CLifeIndex::BussDataProc(const std::wstring& reply) {
    std::vector<struLiveIndexW> rows;
    std::vector<std::wstring> statements;
    bool whole = true;
    for (int i = 0; i < kMaxRecords; ++i) {
        const std::wstring row = records::ReplyRow(reply, i + 1);
        if (row.empty() || !records::HasFields(kProc, COMMAND_LIFEINDEX_QUEST, row, kRowFields)) break;
        rows.push_back(FromRow(row));
        if (rows.back().liveIndexMessNo == HeldMessNo(i)) continue;  // held already: no statement
        std::wstring sql;
        whole = RowStatement(rows.back(), sql) && whole;
        statements.push_back(std::move(sql));
    }

    // A statement cut to its buffer fails the reply as a failed transaction would.
    const int result = !whole ? -1 : g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQLSet(statements, true) : -1;
    if (result == 0) {
        TakeRows(rows);
    } else {
        LOGF(LOG_WARNING, kProc, L"ExecSQLSet:[%d][%s]", result, statements.empty() ? L"" : statements.front().c_str());
    }
    if (CMainFrame* frame = g_pMainFrame) frame->PostHomePageLifeIndex();
    records::PostToEnvironmentPopup(&CPopWin::PostFloatUserEnvLifeIndex);
    return static_cast<int>(rows.size());
}

bool CLifeIndex::RowStatement(const struLiveIndexW& r, std::wstring& sql) {
    using text::QuoteSql;
    const std::wstring id = QuoteSql(r.indexID);
    if (!FormatCut(sql, records::kWholeStatement,
                   L"select count(*) from tLiveIndex where areaCodeNo=%d and solarCalendar=%d and indexID='%s' ;",
                   r.areaCodeNo, r.solarCalendar, id.c_str()))
        return false;
    if (records::RowStored(sql)) {
        return FormatCut(sql, records::kWholeStatement,
                         L"update tLiveIndex set pubTime='%s', liveIndexMessNo=%0d, gatherTime='%s', indexLevel='%s', "
                         L"\t\t\t\t\tindexNote='%s', status='%s', note='%s',modifyTime=datetime('now','localtime') "
                         L"where areaCodeNo=%0d and solarCalendar=%0d and indexID='%s';",
                         QuoteSql(r.pubTime).c_str(), r.liveIndexMessNo, QuoteSql(r.gatherTime).c_str(),
                         QuoteSql(r.indexLevel).c_str(), QuoteSql(r.indexNote).c_str(), QuoteSql(r.status).c_str(),
                         QuoteSql(r.note).c_str(), r.areaCodeNo, r.solarCalendar, id.c_str());
    }
    return FormatCut(sql, records::kWholeStatement,
                     L"insert into tLiveIndex (areaCodeNo, solarCalendar, pubTime, liveIndexMessNo, gatherTime, "
                     L"\t\t\t\t\tindexID, indexLevel, indexNote, status, note,modifyTime) values (%0d, %0d, '%s', %0d, "
                     L"'%s', '%s', '%s', '%s', '%s', '%s',datetime('now','localtime'));",
                     r.areaCodeNo, r.solarCalendar, QuoteSql(r.pubTime).c_str(), r.liveIndexMessNo,
                     QuoteSql(r.gatherTime).c_str(), id.c_str(), QuoteSql(r.indexLevel).c_str(),
                     QuoteSql(r.indexNote).c_str(), QuoteSql(r.status).c_str(), QuoteSql(r.note).c_str());
}

int CLifeIndex::HeldMessNo(int slot) const {
    std::lock_guard lock(m_lock);
    return m_records[static_cast<std::size_t>(slot)].liveIndexMessNo;
}

void CLifeIndex::TakeRows(const std::vector<struLiveIndexW>& rows) {
    std::lock_guard lock(m_lock);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::wstring modifyTime = m_records[i].modifyTime;
        m_records[i] = rows[i];
        m_records[i].modifyTime = modifyTime;
    }
    m_nCount = static_cast<int>(rows.size());
    m_nLiveIndexMessNo = m_records[0].liveIndexMessNo;
}

int CLifeIndex::GetCount() const {
    std::lock_guard lock(m_lock);
    return m_nCount;
}

uie::value CLifeIndex::GetLifeIndexValue() const {
    std::array<struLiveIndexW, kMaxRecords> copy;
    int count = 0;
    {
        std::lock_guard lock(m_lock);
        copy = m_records;
        count = m_nCount;
    }
    uie::value list = uie::value::make_array();
    for (int i = 0; i < count; ++i) list.append(LifeIndexMap(copy[static_cast<std::size_t>(i)]));
    return list;
}

int CLifeIndex::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "lifeIndex", ScriptObjectDef()) ? 1 : 0;
}

std::shared_ptr<const uie::NativeObjectDef> CLifeIndex::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"getLifeIndex", [](HVM, const uie::NativeArgs&) {
                           const CLifeIndex* owner = g_pLifeIndex;
                           return owner != nullptr ? owner->GetLifeIndexValue() : uie::value::make_array();
                       }}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}
