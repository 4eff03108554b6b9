// The dictionary of data sources: manual entry and the USB measuring devices.
#pragma once

#include <string>

#include "ScriptVM.h"

struct struModuleInterface;

// One data source: a device kind served by a device module, or a value the program
// computes. The last two fields exist only while the program runs.
struct struHealthElementSourceTypeW {
    int sourceNo = 0;
    std::wstring sourceName;
    std::wstring sourceType;  // "3" a USB device with a module, "1" computed by the program
    std::wstring devCompanyName;
    std::wstring devProductsModel;
    std::wstring interfaceName;  // the device module's file name; empty when none
    int vendorID = -1;           // -1: none
    int productID = -1;
    std::wstring sourceNote;
    int dispNo = 0;
    std::wstring productIconFileName;
    std::wstring companyIconFileName;
    int lastRecNo = 0;
    std::wstring lastOpCode;
    std::wstring status;
    std::wstring note;
    struModuleInterface* moduleInterface = nullptr;  // the bound module, null while none
    int linkState = 0;                                // 1 connected, 2 removed
};

class CHealthElementSourceType {
public:
    CHealthElementSourceType();
    virtual ~CHealthElementSourceType() = default;
    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
    // The first source numbered in [base, base + 100) (in [base, base + 10) below 1000)
    // with a vendor and product id whose device is plugged in; null when none.
    virtual struHealthElementSourceTypeW* FindPresentDevice(int base);
};

extern CHealthElementSourceType* g_pHealthElementSourceType;
