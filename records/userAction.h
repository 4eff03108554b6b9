// The user actions that the server has not yet acknowledged.
#pragma once

#include <string>

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

    int LoadFromDB();
    // The reply to a user-action upload (0x1142), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);
};

extern CUserAction* g_pUserAction;
