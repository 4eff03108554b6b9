// The health watch: the USB device list, binding the modules of the devices present,
// the refresh passes over the elements, and device arrival and removal.
#include <algorithm>
#include <cwctype>
#include <string_view>
#include <system_error>

#include "Config.h"
#include "CxLog.h"
#include "DeviceBroadcast.h"
#include "FloatBarWin.h"
#include "HealthDevices.h"
#include "HealthElementSource.h"
#include "HealthElementSourceType.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "Quorvix.h"
#include "Text.h"
#include "ThreadWait.h"
#include "Window.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"
#include "share.h"

namespace {

constexpr int kStateConnected = 1;
constexpr int kStateRemoved = 2;
constexpr DWORD kStepMs = 50;
constexpr int kStepsPerPass = 10;
constexpr int kExpiryRetrySeconds = 60;  // for an element without a change cycle

bool Ending() { return g_nRunState == 4; }

bool StartsWithNoCase(std::wstring_view token, std::wstring_view prefix) {
    if (token.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::towupper(token[i]) != std::towupper(prefix[i])) return false;
    }
    return true;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// Up to four hex digits after the prefix; false without one.
bool ScanHexId(std::wstring_view token, std::size_t from, int& out) {
    int value = 0;
    std::size_t digits = 0;
    for (std::size_t i = from; i < token.size() && digits < 4 && std::iswxdigit(token[i]); ++i, ++digits) {
        const wchar_t c = static_cast<wchar_t>(std::towupper(token[i]));
        value = value * 16 + (c <= L'9' ? c - L'0' : c - L'A' + 10);
    }
    if (digits == 0) return false;
    out = value;
    return true;
}

// The vendor and product ids of a hardware ID; each stays "none" unless read.
void ReadIds(const std::wstring& hardwareID, struUsbDeviceW& device) {
    std::size_t start = 0;
    while (start <= hardwareID.size()) {
        const std::size_t end = std::min(hardwareID.find_first_of(L"\\#&", start), hardwareID.size());
        const std::wstring_view token(hardwareID.data() + start, end - start);
        if (StartsWithNoCase(token, L"Vid_")) ScanHexId(token, 4, device.vendorID);
        if (StartsWithNoCase(token, L"Pid_")) ScanHexId(token, 4, device.productID);
        start = end + 1;
    }
}

bool IsEnvironmentElement(const std::wstring& id) {
    return id == L"devAirQuality" || id == L"devHumidity" || id == L"devTemperature";
}

void PostEnvironmentRefresh() {
    const CFloatBarWin* bar = g_pFloatBarWin;
    const CPopWin* popup = bar != nullptr ? bar->GetPopup(CFloatBarWin::kSurround) : nullptr;
    const HWND hwnd = popup != nullptr ? popup->GetHwnd() : nullptr;
    if (hwnd != nullptr) PostMessageW(hwnd, WM_COMMAND, ID_CMD_FLOAT_USERENV, 0);
}

struHealthElementSourceTypeW* SourceOf(int sourceNo) {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    return sources != nullptr ? sources->GetSourceType(sourceNo) : nullptr;
}

bool Due(int lastTick, int cycleSeconds, DWORD now) {
    return cycleSeconds >= 1 && (now - static_cast<DWORD>(lastTick)) / 1000 >= static_cast<DWORD>(cycleSeconds);
}

}  // namespace

CHealthResources::DeviceState::~DeviceState() {
    stop = true;
    {
        std::lock_guard lock(threadLock);
        threadwait::Join(watch);
    }
    if (const HDEVNOTIFY registered = notify.exchange(nullptr)) UnregisterDeviceNotification(registered);
}

std::shared_ptr<CHealthResources::DeviceState> CHealthResources::MakeDeviceState() {
    return std::make_shared<DeviceState>();
}

// ---- the thread ---------------------------------------------------------------------------------

int CHealthResources::StartWatch() {
    std::lock_guard lock(m_devices->threadLock);
    if (m_devices->watch.joinable()) return 1;
    m_devices->stop = false;
    try {
        m_devices->watch = std::thread([this] { RunHealthResourcesWatch(); });
    } catch (const std::system_error&) {
        LOGF(LOG_ERROR, L"CHealthResources::StartWork", L"CreateThread RunHealthResourcesWatch fail!!!");
    }
    return 1;
}

void CHealthResources::StopWatch() {
    m_devices->stop = true;
    std::lock_guard lock(m_devices->threadLock);
    threadwait::Join(m_devices->watch);
}

bool CHealthResources::WaitForMainPage() const {
    while (!Ending() && !m_devices->stop) {
        const CMainFrame* frame = g_pMainFrame;
        if (frame != nullptr && frame->GetHwnd() != nullptr && frame->IsReady() && frame->GetState() != 0 &&
            g_Config.GetLoadPageState(L"healthElement") == 1)
            return true;
        Sleep(10);
    }
    return false;
}

void CHealthResources::RunHealthResourcesWatch() {
    constexpr const wchar_t* kFn = L"CHealthResources::RunHealthResourcesWatch";
    if (WaitForMainPage()) {
        RegisterDeviceNotify();
        BindPresentModules();
        QueueSourceElements(-1);
        m_devices->running = true;
    }
    while (!Ending() && m_devices->running && !m_devices->stop) {
        RefashElementDisp();
        RefashElementChange();
        for (int i = 0; i < kStepsPerPass && !Ending() && !m_devices->stop; ++i) Sleep(kStepMs);
    }
    m_devices->running = false;
    if (const HDEVNOTIFY notify = m_devices->notify.exchange(nullptr)) UnregisterDeviceNotification(notify);
    LOGF(LOG_WARNING, kFn, L"CHealthResources::RunHealthResourcesWatch exit...");
    if (Ending()) Sleep(500);
    LOGF(LOG_WARNING, kFn, L"CHealthResources::RunHealthResourcesWatch exit.");
}

int CHealthResources::RegisterDeviceNotify() {
    const CMainFrame* frame = g_pMainFrame;
    if (frame == nullptr) return 0;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    const HDEVNOTIFY notify = RegisterDeviceNotificationW(frame->GetHwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (notify == nullptr) return 0;
    if (const HDEVNOTIFY old = m_devices->notify.exchange(notify)) UnregisterDeviceNotification(old);
    return 1;
}

// ---- the USB list -------------------------------------------------------------------------------

int CHealthResources::list_USB_devices() {
    std::vector<UsbDeviceInfo> devices;
    if (!ListUsbDevices(devices)) return -1;
    for (const UsbDeviceInfo& info : devices) {
        if (EqualsNoCase(info.service, L"usbhub") || EqualsNoCase(info.service, L"usbccgp")) continue;
        struUsbDeviceW device;
        device.service = info.service;
        device.hardwareID = info.hardwareID;
        ReadIds(info.hardwareID, device);
        bool inserted = false;
        {
            std::lock_guard lock(m_devices->usbLock);
            inserted = m_devices->usbDevices.emplace(info.hardwareID, device).second;
        }
        if (!inserted) LOGF(LOG_WARNING, L"CHealthResources::list_USB_devices", L"插入失败");
    }
    return 0;
}

int CHealthResources::IsDevicePresent(int vendorID, int productID) const {
    std::lock_guard lock(m_devices->usbLock);
    for (const auto& [hardwareID, device] : m_devices->usbDevices) {
        if (device.vendorID == struUsbDeviceW::kNoUsbId || device.productID == struUsbDeviceW::kNoUsbId) continue;
        if (device.vendorID == vendorID && device.productID == productID) return kStateConnected;
    }
    return kStateRemoved;
}

int CHealthResources::BindPresentModules() {
    list_USB_devices();
    std::vector<int> sourceNos;
    for (const struHealthElementW& element : ElementsInLoadOrder()) {
        if (element.sourceNo >= 0 && std::find(sourceNos.begin(), sourceNos.end(), element.sourceNo) == sourceNos.end())
            sourceNos.push_back(element.sourceNo);
    }
    for (const int sourceNo : sourceNos) {
        struHealthElementSourceTypeW* source = SourceOf(sourceNo);
        if (source == nullptr || text::WToI(source->sourceType.c_str()) != 3) continue;
        if (source->vendorID == -1 || source->productID == -1) continue;
        const int present = IsDevicePresent(source->vendorID, source->productID);
        if (present == kStateConnected && !source->interfaceName.empty() && source->moduleInterface.load() == nullptr)
            InitModuleInterface(source);
        if (source->linkState.exchange(present) != present && g_pHealthElementSource != nullptr)
            g_pHealthElementSource->SetSourceLinkState(sourceNo, present);
    }
    return 0;
}

// ---- the passes ---------------------------------------------------------------------------------

// Copies, so no pass holds the element lock while it calls a module or the database.
std::vector<struHealthElementW> CHealthResources::ElementsById() {
    std::vector<struHealthElementW> all;
    WithElements([&all](HealthElementMap& elements) {
        for (const auto& [id, e] : elements) all.push_back(e);
    });
    return all;
}

void CHealthResources::RefreshFromSource(const struHealthElementW& element, bool record) {
    const struHealthElementSourceTypeW* source = SourceOf(element.sourceNo);
    if (source == nullptr || source->linkState.load() != kStateConnected) return;
    if (source->sourceType == L"3") {
        struModuleInterface* module = source->moduleInterface.load();
        ModuleReading reading;
        const char mode = record ? '2' : '1';
        if (module == nullptr || ReadModuleValue(module, element.healthElementID, mode, reading) != 0) return;
        const std::wstring value = text::FromAnsi(reading.value);
        const int valueNo = ElementTextToValueNo(element, value);
        if (record) {
            RecordElementValue(&element, valueNo, text::FromAnsi(reading.time), true);
            return;
        }
        SetDisplayValue(element, valueNo, value);
        if (IsEnvironmentElement(element.healthElementID)) PostEnvironmentRefresh();
    } else if (source->sourceType == L"1") {
        int seconds = 0;
        if (GetUserEnvSeconds(element, &seconds))
            SetDisplayValue(element, seconds, ElementValueNoToValue(element, seconds));
    }
}

void CHealthResources::RefashElementDisp() {
    for (const struHealthElementW& element : ElementsById()) {
        Sleep(1);
        if (Ending()) return;
        const DWORD now = GetTickCount();
        if (!Due(element.lastDispTick, element.reDispCycle, now)) continue;
        WithElement(element.healthElementID, [now](struHealthElementW& e) { e.lastDispTick = static_cast<int>(now); });
        RefreshFromSource(element, false);
    }
}

bool CHealthResources::ExpireElement(const struHealthElementW& element) {
    // An element without a value, or whose time cannot be read, has nothing to expire.
    if (element.valueValidity <= 0 || element.valueNo == kNoValue) return false;
    // An expiry that could not be stored is tried again after a cycle, not at every pass.
    const DWORD tick = GetTickCount();
    const int retryCycle = element.changeCycle >= 1 ? element.changeCycle : kExpiryRetrySeconds;
    if (element.expiryFailed && !Due(element.expiryTick, retryCycle, tick)) return false;
    SYSTEMTIME generated{};
    if (StrToSystemTime(text::ToAnsi(element.valueGeneratedTime).c_str(), &generated) != 1) return false;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    int minutes = 0;
    if (DateDiffBySystemTime("minute", generated, now, &minutes) != 1 || minutes <= element.valueValidity) return false;
    const bool stored = SetElementValueNo(element.healthElementID, kNoValue, true, true) == 0;
    WithElement(element.healthElementID, [stored, tick](struHealthElementW& e) {
        e.expiryFailed = !stored;
        e.expiryTick = static_cast<int>(tick);
    });
    return stored;
}

void CHealthResources::RefashElementChange() {
    for (const struHealthElementW& element : ElementsById()) {
        Sleep(1);
        if (Ending()) return;
        ExpireElement(element);
        const DWORD now = GetTickCount();
        if (element.changeCycle <= 0 || !Due(element.lastReadTick, element.changeCycle, now)) continue;
        WithElement(element.healthElementID, [now](struHealthElementW& e) { e.lastReadTick = static_cast<int>(now); });
        RefreshFromSource(element, true);
    }
}

// ---- arrival and removal ----------------------------------------------------------------------

int CHealthResources::ApplyDeviceChange(int vendorID, int productID, int arrived) {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    struHealthElementSourceTypeW* source =
        sources != nullptr ? sources->GetSourceTypeByVidPid(vendorID, productID) : nullptr;
    if (source == nullptr) return 0;
    const int state = arrived == 1 ? kStateConnected : kStateRemoved;
    source->linkState = state;
    if (g_pHealthElementSource != nullptr) g_pHealthElementSource->SetSourceLinkState(source->sourceNo, state);
    QueueSourceElements(source->sourceNo);
    // Removal stops nothing here: a window's read ends on its own, never blocking this thread.
    if (arrived != 1) return 1;
    if (CPedometerWin::IsPedometerSource(source->sourceNo)) {
        OpenPedometerWin(1);
        if (CPedometerWin* window = g_pPedometer) window->DevChangeProc(source, 1);
    } else if (CBloodPressureWin::IsBloodPressureSource(source->sourceNo)) {
        OpenBloodPressureWin(1);
        if (CBloodPressureWin* window = g_pBloodPressure) window->DevChangeProc(source, 1);
    }
    return 1;
}
