// The user's registered measuring devices.
#pragma once

#include <string>

#include "ScriptVM.h"

// A pedometer read as it is uploaded: the module's raw text and the settings text.
struct struDeviceOrigData {
    int userNo = -1;
    int sourceNo = 0;
    std::wstring regDeviceID;
    std::wstring deviceID;
    std::wstring origData;
    std::wstring readTime;  // local time of the read
    std::wstring devOption;
};

// One upload packet of blood-pressure readings: the kept readings in full, the
// discarded ones by their times, each reading's text ended by '|'.
struct struBpPacketW {
    int userNo = -1;
    int sourceNo = 0;
    std::wstring regDeviceID;
    std::wstring deviceID;
    std::wstring readTime;
    int packetNo = 1;
    int recordCount = 0;
    int keptCount = 0;
    std::wstring keptData;
    int discardedCount = 0;
    std::wstring discardedData;
    std::wstring note;  // sent empty
};

class CDeviceManager {
public:
    CDeviceManager();
    virtual ~CDeviceManager() = default;

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);
    // The reply to a device's raw-data upload (0x1170), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);
    // 1 when a USB device with these ids is plugged in, 0 when not, -1 when the list of
    // devices cannot be read.
    virtual int IsUsbDevicePresent(int vendorID, int productID);
};

extern CDeviceManager* g_pDeviceManager;
