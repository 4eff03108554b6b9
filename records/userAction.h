// The user actions that the server has not yet acknowledged: loaded at start-up, sent
// one per acknowledgement of command 0x1142.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PendingUploads.h"

// One tUserActionDataList row as it is uploaded.
struct struUserActionW {
    int userNo = -1;
    int recNo = 0;
    int recDate = 0;
    int actionNo = 0;
    std::wstring responseType;
    std::wstring sourceType;
    std::wstring lastOpCode;
    std::wstring syncFlag;  // "0" waits for upload
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
};

class CUserAction {
public:
    CUserAction();
    virtual ~CUserAction() = default;

    // The loading step: ReadNeedProcActionFromDB. Sends nothing.
    int LoadFromDB();
    // The logged-in user's rows with syncFlag '0' into the pending map (a record already
    // there is replaced). 1, or 0 after a database error (logged at Error; the rows read
    // before stay) or a statement that did not fit its buffer (not run).
    int ReadNeedProcActionFromDB();
    // Drops the record under recNo; true when there was one.
    bool Remove(int recNo);
    // Hands the pending record with the lowest recNo to UserActionOpUpLoad_asyn; true
    // when there was one and it was queued.
    bool UploadFirst();

    // The reply to a user-action upload (0x1142), on the socket thread: the server's
    // code when negative; 0 when refused (fewer than 6 fields) or when the row's update
    // failed (the record stays, nothing is sent); 1 when the record was dropped and the
    // next one sent.
    virtual int BussDataProc(const std::wstring& reply);

    // What is pending, copied.
    std::vector<int> PendingRecNos() const { return m_pending.Numbers(); }
    std::optional<struUserActionW> GetPending(int recNo) const { return m_pending.Get(recNo); }

private:
    records::PendingUploads<struUserActionW> m_pending;
};

extern CUserAction* g_pUserAction;
