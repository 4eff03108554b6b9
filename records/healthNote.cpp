#include "healthNote.h"

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "global.h"

CHealthNote* g_pHealthNote = nullptr;

namespace {

constexpr int kSelectMax = 260;     // MAX_PATH
constexpr int kStatementMax = 1040;  // 4 x MAX_PATH

int Send(const struHealthNoteW& note) {
    return g_pCommunication != nullptr ? g_pCommunication->HealthNoteOpUpLoad_asyn(note) : -1;
}

// Operation "0": the server stored the note; "2": it deleted it; any other changes no row.
std::optional<std::wstring> StatementFor(const records::UploadAck& ack) {
    std::wstring sql;
    bool whole = true;
    if (ack.op == L"0")
        whole = FormatCut(sql, kStatementMax,
                          L"update tHealthNote set syncNo = %0d, syncFlag = '1', modifyTime = "
                          L"datetime('now','localtime') where userNo = %0d and noteNo = %0d;",
                          ack.syncNo, ack.userNo, ack.no);
    else if (ack.op == L"2")
        whole = FormatCut(sql, kStatementMax, L"delete from tHealthNote where userNo = %0d and noteNo = %0d;",
                          ack.userNo, ack.no);
    if (!whole) return std::nullopt;
    return sql;
}

}  // namespace

CHealthNote::CHealthNote() : m_pending(&Send) {}

int CHealthNote::LoadFromDB() { return ReadNeedProcNoteFromDB(); }

int CHealthNote::ReadNeedProcNoteFromDB() {
    const int userNo = LoggedInUserNo();
    std::wstring sql;
    if (!FormatCut(sql, kSelectMax,
                   L"select userNo, noteNo, noteDate, title, content, sourceType, createTime, allowShareFlag, "
                   L"shareFlag, lastOpCode, syncFlag, syncNo, status, note, modifyTime from tHealthNote where "
                   L"userNo=%d and syncFlag='0';",
                   userNo))
        return 0;
    const auto row = [this](const std::vector<std::wstring>& c) {
        using records::ColumnInt;
        const auto text = [&c](std::size_t i) { return records::ColumnText(c, i); };
        struHealthNoteW n;
        n.userNo = ColumnInt(c, 0);
        n.noteNo = ColumnInt(c, 1);
        n.noteDate = ColumnInt(c, 2);
        n.title = text(3);
        n.content = text(4);
        n.sourceType = text(5);
        n.createTime = text(6);
        n.allowShareFlag = text(7);
        n.shareFlag = text(8);
        n.lastOpCode = text(9);
        n.syncFlag = text(10);
        n.syncNo = ColumnInt(c, 11);
        n.status = text(12);
        n.note = text(13);
        n.modifyTime = text(14);
        m_pending.Put(n.noteNo, std::move(n));
        return true;
    };
    const auto failed = [&sql](int, const wchar_t*) {
        LOGF(LOG_ERROR, L"CHealthNote::ReadNeedProcNoteFromDB", L"SQL try! [%s]", sql.c_str());
    };
    return records::SelectEachRow(sql, row, failed) ? 1 : 0;
}

bool CHealthNote::Remove(int noteNo) { return m_pending.Remove(noteNo); }

bool CHealthNote::UploadFirst() { return m_pending.UploadFirst(); }

int CHealthNote::BussDataProc(const std::wstring& reply) {
    return m_pending.Acknowledge(reply, L"CHealthNote::BussDataProc", COMMAND_HEALTHNOTE_UPLOAD,
                                 L"CCommunication::HealthNote_BussDataProc: ExecuteSQLCommandWithReturn:[%d]",
                                 &StatementFor);
}
