// The user's registered measuring devices.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceUploadState.h"
#include "ScriptVM.h"

// One registered device, a tUserDevice row.
struct struUserDeviceW {
    int userNo = -1;
    int sourceNo = 0;
    std::wstring regTime;      // "%d-%02d-%02d %02d:%02d:%02d" local time
    std::wstring lastUseTime;  // the same form
    int useTimes = 0;
    std::wstring deviceID;
    std::wstring userID;
    std::wstring sourceName;
    std::wstring status;
    std::wstring note;
};

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

// The map is changed on the socket thread and read on the pages' threads: it has a lock,
// and readers get copies.
class CDeviceManager {
public:
    CDeviceManager();
    virtual ~CDeviceManager() = default;

    int LoadFromDB();
    // Rebuilds the map from tUserDevice; the number of devices. A read that fails keeps
    // the map as it was (logged).
    int ReadUserDeviceFromDB();
    std::optional<struUserDeviceW> GetUserDevice(int sourceNo) const;
    // 0 and the device's id, or -1 with deviceID unchanged.
    int GetRegDeviceID(int sourceNo, std::wstring& deviceID) const;
    // Of the devices numbered base to base + 9, the one used last (the lower number on a tie).
    std::optional<struUserDeviceW> FindLastUsedDevice(int sourceNoBase) const;
    // Registers the device's use: its statements are appended to `statements`, or run in a
    // transaction of their own without a list. 0, or the failure. A caller whose
    // transaction with these statements fails reloads the map (ReadUserDeviceFromDB).
    int UserDeviceProc(std::vector<std::wstring>* statements, int sourceNo, const std::wstring& deviceID);
    int UserDeviceAdd_LocalDataProc(std::vector<std::wstring>* statements, const struUserDeviceW& device);
    int UserDeviceUpdate_LocalDataProc(std::vector<std::wstring>* statements, const struUserDeviceW& device);
    // The page's choice of device in a family: present, else last used, else the default.
    int GetLastDeviceSourceNo(int sourceNoBase) const;
    bool HasPedometer() const { return m_bPedometer; }

    int RegisterScriptObject(HVM vm);
    // The reply to a device's raw-data upload (0x1170), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);
    // 1 when a USB device with these ids is plugged in, 0 when not, -1 when the list of
    // devices cannot be read.
    virtual int IsUsbDevicePresent(int vendorID, int productID);
    // Whether a device instance id ("USB\VID_1234&PID_5678\...") names these ids.
    static bool IsUsbInstanceOf(const std::wstring& instanceID, int vendorID, int productID);

    // What the page shows of the last registration.
    CDeviceUploadState m_updateState;

private:
    // Runs the statements in one transaction; 0 or the database's failure (logged).
    static int RunNow(const std::vector<std::wstring>& statements);
    static int Finish(std::vector<std::wstring>* statements, const std::vector<std::wstring>& made);

    mutable std::mutex m_lock;
    std::map<int, struUserDeviceW> m_devices;
    std::atomic<bool> m_bPedometer{false};
};

extern CDeviceManager* g_pDeviceManager;
