// The health notes that the server has not yet acknowledged.
#pragma once

#include <string>

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

    int LoadFromDB();
    // The reply to a health-note upload (0x1141), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);
};

extern CHealthNote* g_pHealthNote;
