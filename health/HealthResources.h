// The user's health elements and their values.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "ScriptVM.h"
#include "Value.h"

// One tHealthElement row, then the run-time fields.
struct struHealthElementW {
    int userNo = -1;
    std::wstring healthElementID;
    std::wstring healthElementName;
    int healthElementType = 0;
    int valueNo = -29999;  // -29999: no value
    std::wstring value;
    int defaultValueNo = 0;
    std::wstring minValue;
    std::wstring maxValue;
    std::wstring unitName;
    std::wstring dataType;
    int decLen = 0;  // valueNo = real value x 10^decLen
    std::wstring charSet;
    std::wstring ctrlType;
    std::wstring ctrlShow;
    std::wstring saveValue;
    std::wstring basicFlag;
    int defaultChangeCycle = 0;
    int changeCycle = 0;
    std::wstring alertFlag;
    int defaultReDispCycle = 0;
    int reDispCycle = 0;
    int sourceNo = -1;
    std::wstring updateFlag;
    std::wstring valueTransFunc;
    std::wstring elementManageFunc;
    std::wstring refreshFunc;
    std::wstring healthElementNote;
    std::wstring valueGeneratedTime;  // yyyy-mm-dd hh:mm:ss.mmm
    int valueValidity = 0;
    int dispNo = 0;
    std::wstring nodeIconFileName;
    int lastRecNo = 0;
    std::wstring lastOpCode;
    std::wstring syncFlag;  // "1": values are uploaded
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
    int sourceLinkState = 1;  // 1 connected, 2 removed
    int lastReadTick = 0;
};

// The user's health elements by healthElementID.
using HealthElementMap = std::map<std::wstring, struHealthElementW>;

class CHealthResources {
public:
    CHealthResources();
    virtual ~CHealthResources() = default;

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
    // Element values the server sends (0x1092), on the socket thread.
    virtual int BussDataProc_HealthElementValue(const std::wstring& reply);
    // Sets one element's value (-29999: none), stores it when `record` is set and
    // queues the element list for the main page when `queue` is set; -1 for an unknown id.
    virtual int SetElementValueNo(const std::wstring& id, int valueNo, bool record, bool queue);
    // The oldest element list waiting for the main page, and the oldest other value
    // for it; each undefined when nothing waits.
    virtual uie::value PopElementListMsg();
    virtual uie::value PopPageMsg();
    // A USB device arrived (arrived 1) or went; 1 when a source has these ids, else 0.
    virtual int DevChangeProc(int vendorID, int productID, int arrived);

    // Runs f on the element map under its lock; f must not call out of this object.
    template <class F>
    void WithElements(F&& f) {
        std::lock_guard lock(m_elementLock);
        f(m_elements);
    }

private:
    std::mutex m_elementLock;
    HealthElementMap m_elements;
};

extern CHealthResources* g_pHealthResources;
