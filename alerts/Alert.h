// The user's alerts and the thread that delivers them.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "WinTypes.h"

// One tAlertList row, in column order, with the two times parsed when loaded.
struct struAlertListW {
    int alertDate = 0;  // yyyymmdd
    int alertNo = 0;
    int no = 0;
    std::wstring alertType;
    std::wstring message;
    std::wstring summary;
    int duraMinute = 0;
    int alertMinute = 0;  // hhmm
    std::wstring lastAlertTime;
    int actionNo = 0;
    std::wstring actionRuleFlag;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
    SYSTEMTIME stLastAlertTime{};
    SYSTEMTIME stModifyTime{};
};

class CAlert {
public:
    CAlert();
    virtual ~CAlert() = default;

    int StartWork();
    // Reads the alert configuration and today's alerts again; 1, or 0 on failure.
    virtual int ReadAlertFormDB();
    int RegisterScriptObject(HVM vm);
};

extern CAlert* g_pAlert;
