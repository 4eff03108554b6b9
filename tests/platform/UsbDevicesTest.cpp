#include "UsbDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceBroadcast.h"
#include "FakeUsbTree.h"
#include "Hooks.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "Window.h"

namespace {

class UsbDevicesTest : public ::testing::Test {
protected:
    UsbDevicesTest() : tree_(dir_ / "sys") { Hooks().sysfsRoot = tree_.Root(); }

    const UsbDeviceInfo* Find(const std::vector<UsbDeviceInfo>& list, const std::wstring& hardwareID) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&hardwareID](const UsbDeviceInfo& d) { return d.hardwareID == hardwareID; });
        return it != list.end() ? &*it : nullptr;
    }

    HookScope hooks_;
    TempDir dir_;
    FakeUsbTree tree_;
};

TEST_F(UsbDevicesTest, DescribesDevicesHubsAndCompositeInterfaces) {
    tree_.AddDevice("1-1", "0c45", "70c1", "ab12", {"usbhid"});
    tree_.AddDevice("usb1", "1d6b", "0002", "", {"hub"}, "09");
    tree_.AddDevice("1-2", "046d", "c52b", "", {"usbhid", "snd-usb-audio"});
    std::vector<UsbDeviceInfo> list;
    ASSERT_TRUE(ListUsbDevices(list));
    ASSERT_EQ(list.size(), 5u);

    const UsbDeviceInfo* pedometer = Find(list, L"USB\\VID_0C45&PID_70C1&REV_0100");
    ASSERT_NE(pedometer, nullptr);
    EXPECT_EQ(pedometer->instanceID, L"USB\\VID_0C45&PID_70C1\\AB12");
    EXPECT_EQ(pedometer->service, L"usbhid");
    EXPECT_EQ(pedometer->interfacePath, L"\\\\?\\USB#VID_0C45&PID_70C1#AB12#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

    const UsbDeviceInfo* hub = Find(list, L"USB\\VID_1D6B&PID_0002&REV_0100");
    ASSERT_NE(hub, nullptr);
    EXPECT_EQ(hub->service, L"usbhub");

    // Without a serial the sysfs name stands in; each interface of a composite device is listed.
    const UsbDeviceInfo* composite = Find(list, L"USB\\VID_046D&PID_C52B&REV_0100");
    ASSERT_NE(composite, nullptr);
    EXPECT_EQ(composite->service, L"usbccgp");
    EXPECT_EQ(composite->instanceID, L"USB\\VID_046D&PID_C52B\\1-2");
    const UsbDeviceInfo* audio = Find(list, L"USB\\VID_046D&PID_C52B&MI_01");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->service, L"snd-usb-audio");
    EXPECT_TRUE(audio->interfacePath.empty());
}

TEST_F(UsbDevicesTest, MissingOrEndlessIdsAndMissingBusAreNoCrash) {
    tree_.AddDevice("2-1", "", "zz!!", "", {});
    // An attribute that leads to an endless file is not read.
    std::filesystem::create_symlink("/dev/zero", tree_.Root() / "bus/usb/devices/2-1/idVendor");
    std::vector<UsbDeviceInfo> list;
    ASSERT_TRUE(ListUsbDevices(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].hardwareID, L"USB\\VID_&PID_ZZ!!&REV_0100");
    EXPECT_TRUE(list[0].service.empty());

    Hooks().sysfsRoot = dir_ / "nothing";
    EXPECT_FALSE(ListUsbDevices(list));
    EXPECT_TRUE(list.empty());
}

// A window on a thread of its own that keeps what WM_DEVICECHANGE brought.
class BroadcastWindow {
public:
    BroadcastWindow() {
        thread_ = std::thread([this] { Run(); });
        EXPECT_TRUE(WaitFor([this] { return hwnd_.load() != nullptr; }));
    }
    ~BroadcastWindow() {
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    HWND Hwnd() const { return hwnd_; }
    std::vector<std::wstring> Events() {
        std::lock_guard lock(lock_);
        return events_;
    }

private:
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BroadcastWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_CREATE) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        } else if (msg == WM_DEVICECHANGE && self != nullptr) {
            const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            std::lock_guard lock(self->lock_);
            self->events_.push_back((wParam == DBT_DEVICEARRIVAL ? L"+" : L"-") + std::wstring(record->dbcc_name));
            return TRUE;
        } else if (msg == WM_CLOSE) {
            DestroyWindow(hwnd);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    void Run() {
        static const ATOM registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = Proc;
            wc.lpszClassName = L"QuorvUsbBroadcastTest";
            return RegisterClassExW(&wc);
        }();
        EXPECT_NE(registered, 0);
        hwnd_ = CreateWindowExW(0, L"QuorvUsbBroadcastTest", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, this);
        MSG msg{};
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }

    std::atomic<HWND> hwnd_{nullptr};
    std::mutex lock_;
    std::vector<std::wstring> events_;
    std::thread thread_;
};

DEV_BROADCAST_DEVICEINTERFACE_W UsbFilter() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    return filter;
}

TEST_F(UsbDevicesTest, NotificationsSendArrivalAndRemovalUntilUnregistered) {
    tree_.AddDevice("1-3", "1234", "5678", "old", {"usbhid"});
    BroadcastWindow window;
    const auto filter = UsbFilter();
    const HDEVNOTIFY notify = RegisterDeviceNotificationW(window.Hwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(notify, nullptr);
    const std::wstring name = L"\\\\?\\USB#VID_0C45&PID_70C1#S1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    tree_.AddDevice("1-1", "0c45", "70c1", "s1", {"usbhid"});
    EXPECT_TRUE(WaitFor([&window] { return !window.Events().empty(); }));
    tree_.RemoveDevice("1-1");
    EXPECT_TRUE(WaitFor([&window] { return window.Events().size() >= 2; }));
    EXPECT_EQ(window.Events(), (std::vector<std::wstring>{L"+" + name, L"-" + name}));  // the old one is no news

    EXPECT_TRUE(UnregisterDeviceNotification(notify));
    EXPECT_FALSE(UnregisterDeviceNotification(notify));
}

TEST_F(UsbDevicesTest, RegistrationNeedsTheUsbClassAndAWindow) {
    BroadcastWindow window;
    auto filter = UsbFilter();
    EXPECT_EQ(RegisterDeviceNotificationW(nullptr, &filter, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
    EXPECT_EQ(RegisterDeviceNotificationW(window.Hwnd(), nullptr, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
    filter.dbcc_classguid.Data1 = 1;
    EXPECT_EQ(RegisterDeviceNotificationW(window.Hwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
}

}  // namespace
