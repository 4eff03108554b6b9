// The dictionary of data sources: manual entry and the USB measuring devices.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "DataClassKit.h"
#include "ScriptVM.h"

struct struModuleInterface;

// One tHealthElementSourceType row, then what the program learns while it runs: the
// bound device module and whether the device is plugged in. Those two are written by
// the device threads while others read them.
struct struHealthElementSourceTypeW {
    int sourceNo = 0;
    std::wstring sourceName;
    std::wstring sourceType;  // "3" a USB device with a module, "1" computed by the program
    std::wstring devCompanyName;
    std::wstring devProductsModel;
    std::wstring interfaceName;  // the device module's file name; empty when none
    int vendorID = -1;           // USB ids; negative: none
    int productID = -1;
    std::wstring sourceNote;
    int dispNo = 0;
    std::wstring productIconFileName;
    std::wstring companyIconFileName;
    int lastRecNo = 0;
    std::wstring lastOpCode;
    std::wstring status;
    std::wstring note;
    std::atomic<struModuleInterface*> moduleInterface{nullptr};  // null while none is bound
    std::atomic<int> linkState{0};                              // 1 connected, 2 removed
};

class CHealthElementSourceType {
public:
    CHealthElementSourceType();
    virtual ~CHealthElementSourceType() = default;
    // Once: the load's marks, then the reader.
    void LoadFromDB();
    // The number of sources held, or -1 after a database error (the rows read before stay).
    int ReadHealthElementSourceTypeFromDB();
    // Records are owned here for the life of the process; null when there is none.
    struHealthElementSourceTypeW* GetSourceType(int sourceNo) const;
    struHealthElementSourceTypeW* GetSourceTypeByVidPid(int vendorID, int productID) const;
    // The first source numbered in [base, base + 100) (in [base, base + 10) below 1000)
    // with both USB ids whose device the device manager sees plugged in; null when none.
    virtual struHealthElementSourceTypeW* FindPresentDevice(int base);
    // -1: an array of every source in ascending number; a known number: that source's
    // object by itself; an unknown one: an empty array.
    uie::value GetSourceTypeList(int sourceNo) const;
    int RegisterScriptObject(HVM vm);

    records::DictionaryLoad m_load;

private:
    mutable std::mutex m_lock;  // the map while it loads and while it is searched
    std::map<int, std::unique_ptr<struHealthElementSourceTypeW>> m_sources;
};

extern CHealthElementSourceType* g_pHealthElementSourceType;
