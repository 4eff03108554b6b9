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

    int LoadFromDB();
};

extern CUserAction* g_pUserAction;
