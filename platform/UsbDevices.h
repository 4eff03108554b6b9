// The USB devices that are plugged in, read from sysfs below the sysfsRoot hook, as
// Windows' device set describes them; and the notifications of their arrival and removal.
#pragma once

#include <string>
#include <vector>

#include "DeviceBroadcast.h"
#include "WinTypes.h"

// The device-interface class of USB devices, {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
constexpr GUID GUID_DEVINTERFACE_USB_DEVICE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// One device, or one interface of a device that has several.
struct UsbDeviceInfo {
    std::wstring hardwareID;  // USB\VID_0C45&PID_70C1&REV_0100, interfaces with &MI_0n
    std::wstring instanceID;  // USB\VID_0C45&PID_70C1\<serial, else the sysfs name>
    std::wstring service;     // "usbhub", "usbccgp", else the interface's driver
    std::wstring interfacePath;  // \\?\USB#VID_0C45&PID_70C1#<serial>#{usb device class}; "" for an interface
};

// The devices in sysfs order of name; false when the bus folder cannot be read.
bool ListUsbDevices(std::vector<UsbDeviceInfo>& out);

using HDEVNOTIFY = void*;
constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0;

// Watches the USB devices for the window (filter: a device-interface broadcast record of
// the USB device class) and sends it WM_DEVICECHANGE on each arrival and removal, until
// unregistered or the window is gone. Null for a bad filter or window.
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, const void* filter, DWORD flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY handle);
