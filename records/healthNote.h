// The health notes that the server has not yet acknowledged: loaded at start-up, sent
// one per acknowledgement of command 0x1141, the same drain as the user actions' with
// its own table, key and the server's deletions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PendingUploads.h"

// One tHealthNote row, in column order.
struct struHealthNoteW {
    int userNo = -1;
    int noteNo = 0;
    int noteDate = 0;
    std::wstring title;
    std::wstring content;
    std::wstring sourceType;
    std::wstring createTime;
    std::wstring allowShareFlag;
    std::wstring shareFlag;
    std::wstring lastOpCode;
    std::wstring syncFlag;
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CHealthNote {
public:
    CHealthNote();
    virtual ~CHealthNote() = default;

    // The loading step: ReadNeedProcNoteFromDB. Sends nothing.
    int LoadFromDB();
    // The logged-in user's notes with syncFlag '0' into the pending map (a record already
    // there is replaced). 1, or 0 after a database error (logged "SQL try! [%s]" at Error;
    // the notes read before stay) or a statement that did not fit its buffer (not run).
    int ReadNeedProcNoteFromDB();
    // Drops the record under noteNo; true when there was one.
    bool Remove(int noteNo);
    // Hands the pending note with the lowest noteNo to HealthNoteOpUpLoad_asyn; true when
    // there was one and it was queued.
    bool UploadFirst();

    // The reply to a health-note upload (0x1141), on the socket thread. Operation "0"
    // marks the row synchronised, "2" deletes it, any other changes no row. The server's
    // code when negative; 0 when refused (fewer than 6 fields) or when the write failed
    // (the record stays, nothing is sent); 1 when the record was dropped and the next sent.
    virtual int BussDataProc(const std::wstring& reply);

    // What is pending, copied.
    std::vector<int> PendingNoteNos() const { return m_pending.Numbers(); }
    std::optional<struHealthNoteW> GetPending(int noteNo) const { return m_pending.Get(noteNo); }

private:
    records::PendingUploads<struHealthNoteW> m_pending;
};

extern CHealthNote* g_pHealthNote;
