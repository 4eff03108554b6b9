#include "UsbDevices.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "DeviceBroadcast.h"
#include "Hooks.h"
#include "SmallFile.h"
#include "Text.h"
#include "Window.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kAttributeChars = 64;  // sysfs attributes here are short
constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr const wchar_t* kUsbDeviceClassText = L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// The attribute's first line, bounded; "" when it cannot be read.
std::wstring Attribute(const fs::path& folder, const char* name) {
    std::string line = FirstLineOf(folder / name, kAttributeChars);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    std::wstring out = text::FromUtf8(line);
    std::transform(out.begin(), out.end(), out.begin(), [](wchar_t c) { return std::towupper(c); });
    return out;
}

std::wstring DriverOf(const fs::path& folder) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(folder / "driver", ec);
    return ec ? std::wstring() : text::FromUtf8(target.filename().string());
}

std::wstring VidPid(const fs::path& device) {
    return L"VID_" + Attribute(device, "idVendor") + L"&PID_" + Attribute(device, "idProduct");
}

// The interface folders of a device ("1-1:1.0" and so on), by name.
std::vector<fs::path> InterfacesOf(const fs::path& busFolder, const std::string& device) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(busFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > device.size() && name.compare(0, device.size(), device) == 0 && name[device.size()] == ':')
            out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void AddDevice(const fs::path& busFolder, const fs::path& device, std::vector<UsbDeviceInfo>& out) {
    const std::wstring ids = VidPid(device);
    std::wstring serial = Attribute(device, "serial");
    if (serial.empty()) serial = text::FromUtf8(device.filename().string());
    const std::vector<fs::path> interfaces = InterfacesOf(busFolder, device.filename().string());
    UsbDeviceInfo info;
    info.hardwareID = L"USB\\" + ids + L"&REV_" + Attribute(device, "bcdDevice");
    info.instanceID = L"USB\\" + ids + L"\\" + serial;
    info.interfacePath = L"\\\\?\\USB#" + ids + L"#" + serial + L"#" + kUsbDeviceClassText;
    if (Attribute(device, "bDeviceClass") == L"09") {
        info.service = L"usbhub";
    } else if (interfaces.size() > 1) {
        info.service = L"usbccgp";
    } else if (!interfaces.empty()) {
        info.service = DriverOf(interfaces.front());
    }
    out.push_back(info);
    if (interfaces.size() < 2 || info.service == L"usbhub") return;
    for (const fs::path& folder : interfaces) {
        UsbDeviceInfo part;
        const std::wstring number = Attribute(folder, "bInterfaceNumber");
        part.hardwareID = L"USB\\" + ids + L"&MI_" + number;
        part.instanceID = L"USB\\" + ids + L"&MI_" + number + L"\\" + serial;
        part.service = DriverOf(folder);
        out.push_back(std::move(part));
    }
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One registration: a thread that compares the device list every half second.
class DeviceWatcher {
public:
    explicit DeviceWatcher(HWND window) : window_(window) {
        ListUsbDevices(known_);
        thread_ = std::thread([this] { Run(); });
    }
    ~DeviceWatcher() {
        {
            std::lock_guard lock(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

private:
    void Run() {
        std::unique_lock lock(lock_);
        while (!wake_.wait_for(lock, kPollInterval, [this] { return stop_; })) {
            lock.unlock();
            const bool windowAlive = IsWindow(window_) != 0;
            if (windowAlive) Compare();
            lock.lock();
            if (!windowAlive) return;
        }
    }
    void Compare() {
        std::vector<UsbDeviceInfo> now;
        if (!ListUsbDevices(now)) return;
        for (const UsbDeviceInfo& device : now) {
            if (!Contains(known_, device)) Send(DBT_DEVICEARRIVAL, device);
        }
        for (const UsbDeviceInfo& device : known_) {
            if (!Contains(now, device)) Send(DBT_DEVICEREMOVECOMPLETE, device);
        }
        known_ = std::move(now);
    }
    static bool Contains(const std::vector<UsbDeviceInfo>& list, const UsbDeviceInfo& device) {
        return std::any_of(list.begin(), list.end(),
                           [&device](const UsbDeviceInfo& d) { return d.instanceID == device.instanceID; });
    }
    // Sent, not posted: the record lives on this stack until the window has read it.
    void Send(WPARAM event, const UsbDeviceInfo& device) {
        if (device.interfacePath.empty()) return;
        const std::size_t chars = device.interfacePath.size() + 1;
        const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
        std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
        auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
        record->dbcc_size = static_cast<DWORD>(size);
        record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record->dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
        std::wmemcpy(record->dbcc_name, device.interfacePath.c_str(), chars);
        SendMessageW(window_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
    }

    const HWND window_;
    std::vector<UsbDeviceInfo> known_;  // only the watcher's thread touches it after start
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

struct Registry {
    std::mutex lock;
    std::map<HDEVNOTIFY, std::unique_ptr<DeviceWatcher>> watchers;
};

Registry& Watchers() {
    static Registry registry;
    return registry;
}

}  // namespace

bool ListUsbDevices(std::vector<UsbDeviceInfo>& out) {
    out.clear();
    const fs::path bus = Hooks().sysfsRoot / "bus" / "usb" / "devices";
    std::error_code ec;
    fs::directory_iterator it(bus, ec);
    if (ec) return false;
    std::vector<fs::path> devices;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.find(':') == std::string::npos) devices.push_back(entry.path());
    }
    std::sort(devices.begin(), devices.end());
    for (const fs::path& device : devices) AddDevice(bus, device, out);
    return true;
}

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, const void* filter, DWORD flags) {
    const auto* wanted = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
    const HWND window = static_cast<HWND>(recipient);
    if (wanted == nullptr || flags != DEVICE_NOTIFY_WINDOW_HANDLE || !IsWindow(window)) return nullptr;
    if (wanted->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        !SameGuid(wanted->dbcc_classguid, GUID_DEVINTERFACE_USB_DEVICE))
        return nullptr;
    auto watcher = std::make_unique<DeviceWatcher>(window);
    const HDEVNOTIFY handle = watcher.get();
    std::lock_guard lock(Watchers().lock);
    Watchers().watchers.emplace(handle, std::move(watcher));
    return handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle) {
    std::unique_ptr<DeviceWatcher> watcher;
    {
        std::lock_guard lock(Watchers().lock);
        const auto found = Watchers().watchers.find(handle);
        if (found == Watchers().watchers.end()) return FALSE;
        watcher = std::move(found->second);
        Watchers().watchers.erase(found);
    }
    return TRUE;  // the watcher's thread is joined here, outside the registry's lock
}
