#include "pedometerWin.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthDevices.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MyDatabase.h"
#include "PedometerDataGraph.h"
#include "Quorvix.h"
#include "Text.h"
#include "global.h"

std::atomic<CPedometerWin*> g_pPedometer{nullptr};

namespace {

constexpr const char* kGraphMovie = "../graph/pedometerData/pedometerData.swf";
constexpr const char* kGraphData = "../graph/pedometerData/data.xml";
// A module text is never read past this, whatever length it claims (the raw text is 350).
constexpr std::size_t kModuleTextMax = 4096;
constexpr std::size_t kDevOptionChars = 780;
// The settings text of a plain read: nothing to change on the device.
constexpr const wchar_t* kUnchangedOption = L"0|0|0|0|0|0|0|0|0|0|0|0|0|";
// The weight (tenths of a kilogram) may differ this much before the user must confirm it.
constexpr long long kWeightTolerance = 10;

constexpr const wchar_t* kNoSource = L"读取设备失败! ";
constexpr const wchar_t* kBindFailed = L"加载设备接口或初始化设备失败。";
constexpr const wchar_t* kReadFailed = L"读取设备数据失败，请重新拔插设备再试。";
constexpr const wchar_t* kDataFailed = L"设备数据处理失败。";

// A module's text, copied by the length it returned and never past its NUL.
std::wstring ModuleText(const char* text, int length) {
    if (text == nullptr || length < 1) return {};
    const std::size_t limit = std::min(static_cast<std::size_t>(length), kModuleTextMax);
    return text::FromAnsi(std::string_view(text, strnlen(text, limit)));
}

// A settings value the page may give as a number or as its text.
int SettingInt(const uie::value& settings, const wchar_t* key, int fallback) {
    const uie::value v = settings.get_item(uie::value(key));
    if (v.is_string()) return text::WToI(v.get_string().c_str());
    return records::MemberInt(settings, key, fallback);
}

}  // namespace

CPedometerWin::CPedometerWin() {
    m_cs.ownThread = true;
    m_cs.name = L"PedometerWin";
    m_cs.page = g_Config.m_config.pedometerPage;
    m_cs.style = WS_POPUP | WS_VISIBLE | WS_SYSMENU;
    m_cs.exStyle = 0;
    m_cs.showOnCreate = true;
    if (g_pMyDatabase != nullptr) ReadPedoTargetFromDB();
    try {
        m_graph = std::make_unique<CPedometerDataGraph>(kGraphMovie, kGraphData);
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, L"CPedometerWin::CPedometerWin", L"new CPedometerDataGraph fail!");
    }
}

CPedometerWin::~CPedometerWin() { JoinDeviceRead(); }

// ---- the window -----------------------------------------------------------------------

void CPedometerWin::Init() {
    BindPageElements(kRoundDiameter, kTitle);
    CSciterWindow::Init();
    PostPageInit();
}

LRESULT CPedometerWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg != WM_COMMAND) return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    const auto call = [this](const char* name) {
        if (m_root.is_valid()) callScript(m_root, name);
    };
    const auto callWith = [this](const char* name, const sciter::value& arg) {
        if (m_root.is_valid()) callElementFunction(m_root, name, arg);
    };
    switch (LOWORD(wParam)) {
        case ID_CMD_PEDO_REFRESH:
            callWith("RefreshPedoData", sciter::value(static_cast<int>(lParam)));
            return 0;
        case ID_CMD_PEDO_DEVICEDATA:
            call("DeviceData");
            return 0;
        case ID_CMD_PEDO_OPENSETTINGS:
            callWith("OpenSettingsWin", sciter::value(1));
            return 0;
        case ID_CMD_PEDO_PAGEINIT:
            callWith("PageInit", sciter::value(1));
            return 0;
        case ID_CMD_PEDO_RANKINFO:
            call("BandPedoRankInfo");
            return 0;
        default:
            return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    }
}

bool CPedometerWin::PostPageInit() const { return PostCommand(ID_CMD_PEDO_PAGEINIT, 0); }
bool CPedometerWin::PostDeviceData() const { return PostCommand(ID_CMD_PEDO_DEVICEDATA, 0); }
bool CPedometerWin::PostOpenSettingsWin() const { return PostCommand(ID_CMD_PEDO_OPENSETTINGS, 0); }
bool CPedometerWin::PostRefreshPedoData(LPARAM lParam) const { return PostCommand(ID_CMD_PEDO_REFRESH, lParam); }
bool CPedometerWin::PostBandPedoRankInfo() const { return PostCommand(ID_CMD_PEDO_RANKINFO, 0); }

void CPedometerWin::SetSettingWinState(int state) {
    if (state == 0 || state == 1) m_nSettingWinState = state;
}

std::string CPedometerWin::GenPedometerGraphData(const uie::value& options, const uie::value& records) const {
    std::string xml;
    if (m_graph == nullptr) return xml;
    const struPedoTarget target = GetPedoTarget();
    const struPedometerTargets targets{target.targetStep, target.targetDistance, target.targetEnergy,
                                       target.targetDuration};
    m_graph->GenGraphXml(options, records, targets, xml);
    return xml;
}

// ---- the ranking --------------------------------------------------------------------------

int CPedometerWin::QuestPedoRank() {
    if (m_bRankReceived && GetTickCount() - m_rankTick.load() < kRankRefreshMs) return 0;
    CCommunication* comm = g_pCommunication;
    return comm != nullptr ? comm->QuestPedoRank_asyn(-1) : -1;
}

int CPedometerWin::BussDataProc_PedoRank(const std::wstring& reply) {
    constexpr int kFirstFigure = 3;
    int retCode = 0;
    // A reply without its code or its figures is no ranking: it would show every rank as 0.
    if (!text::ParseWholeInt(records::ReplyField(reply, 1), retCode) ||
        (retCode >= 0 && !HasRankFields(reply, kFirstFigure))) {
        LOGF(LOG_WARNING, L"CPedometerWin::BussDataProc_PedoRank", L"reply[%s]", reply.c_str());
        return -1;
    }
    if (retCode < 0) return retCode;
    const struPedoRank rank = ReadRankFields(reply, kFirstFigure);
    {
        std::lock_guard lock(m_dataLock);
        m_pedoRank = rank;
    }
    m_rankTick = GetTickCount();
    m_bRankReceived = true;
    PostBandPedoRankInfo();
    return 0;
}

// ---- the device read ------------------------------------------------------------------

int CPedometerWin::DevChangeProc(const struHealthElementSourceTypeW* source, int start) {
    const int sourceNo = source != nullptr ? source->sourceNo : -1;
    LOGF(LOG_MESSAGE, L"CPedometerWin::DevChangeProc", L"DevChangeProc:[%d][%d]", sourceNo, start);
    if (start == 0) {
        WaitReadEnd();
        std::lock_guard lock(m_dataLock);
        m_deviceOrigData = struDeviceOrigData{};
        m_deviceOrigData.userNo = 0;
        return 0;
    }
    // One read at a time: a second arrival during a read starts none.
    StartDeviceRead(L"CPedometerWin::DevChangeProc", source,
                    [this](struHealthElementSourceTypeW* record) { PedoDataProc(record); });
    return 0;
}

int CPedometerWin::ReadModuleOrigData(struHealthElementSourceTypeW* source) {
    if (source == nullptr) return m_uploadState.End(-4, 0, kNoSource);
    if (source->moduleInterface.load() == nullptr) {
        if (source->interfaceName.empty()) return m_uploadState.End(0, 0, kDataFailed);
        CHealthResources* resources = g_pHealthResources;
        const int bound = resources != nullptr ? resources->InitModuleInterface(source) : -1;
        if (bound < 0) return m_uploadState.End(bound, bound, kBindFailed);
    }
    struModuleInterface* module = source->moduleInterface.load();
    if (module == nullptr) return m_uploadState.End(-1, -1, kBindFailed);
    return TakeModuleData(module, source->sourceNo);
}

int CPedometerWin::TakeModuleData(struModuleInterface* module, int sourceNo) {
    int idLength = 0;
    int rawLength = 0;
    std::wstring deviceID;
    std::wstring origData;
    {
        // The module's texts stay valid only until its next read: copied under its lock.
        std::lock_guard call(module->callLock);
        const int read = module->ReadModuleOrigData();
        if (read < 0) return m_uploadState.End(read, read, kReadFailed);
        char* idText = nullptr;
        idLength = module->GetModuleID(&idText);
        deviceID = ModuleText(idText, idLength);
        char* rawText = nullptr;
        rawLength = module->GetModuleOrigData(&rawText);
        origData = ModuleText(rawText, rawLength);
    }
    std::wstring regDeviceID;
    const CDeviceManager* devices = g_pDeviceManager;
    const bool registered = devices != nullptr && devices->GetRegDeviceID(sourceNo, regDeviceID) == 0;
    {
        std::lock_guard lock(m_dataLock);
        m_deviceOrigData.userNo = LoggedInUserNo();
        m_deviceOrigData.sourceNo = sourceNo;
        if (registered) m_deviceOrigData.regDeviceID = regDeviceID;
        if (idLength >= 1) m_deviceOrigData.deviceID = deviceID;
    }
    if (idLength < 1) LOGF(LOG_ERROR, L"CPedometerWin::ReadModuleOrigData", L"getModuleID[%d]", idLength);
    if (rawLength < 1) {
        // Nothing read is nothing to upload: the read fails here.
        LOGF(LOG_ERROR, L"CPedometerWin::ReadModuleOrigData", L"getModuleOrigData[%d]", rawLength);
        return m_uploadState.End(rawLength, rawLength, kDataFailed);
    }
    {
        std::lock_guard lock(m_dataLock);
        m_deviceOrigData.origData = origData;
        m_deviceOrigData.readTime = GetCurTimeStrSeconds();
    }
    OrigDataToBussData();
    return rawLength;
}

bool CPedometerWin::DeviceMatchesUser() const {
    const struDeviceOrigData read = GetDeviceOrigData();
    const struPedoDeviceValues device = GetDeviceValues();
    if (read.regDeviceID != read.deviceID) return false;
    const CHealthResources* resources = g_pHealthResources;
    const long long weight = resources != nullptr ? resources->GetElementValueNo(L"weight") : CHealthResources::kNoValue;
    const long long stepLength =
        resources != nullptr ? resources->GetElementValueNo(L"pedoStepLength") : CHealthResources::kNoValue;
    if (std::llabs(device.pedoWeight - weight) >= kWeightTolerance) return false;
    const long long stepDiff = std::llabs(device.pedoStepLong - stepLength);
    // The imperial step length went through inches: a centimetre either way is the same.
    return device.pedoUnitMode == 1 ? stepDiff == 0 : stepDiff <= 1;
}

int CPedometerWin::PedoDataProc(struHealthElementSourceTypeW* source) {
    PostDeviceData();
    LOGF(LOG_MESSAGE, L"CPedometerWin::PedoDataProc", L"PedoDataProc:[%d]", source != nullptr ? source->sourceNo : -1);
    {
        std::lock_guard lock(m_dataLock);
        m_deviceBussData.deviceID.clear();
    }
    const int read = ReadModuleOrigData(source);
    if (read < 0) return m_uploadState.End(read, read, kDataFailed);
    if (read == 0) return read;  // nothing read, nothing to upload; the read told the page
    if (m_nSettingWinState.load() == 1) return m_uploadState.End(read, 0, L"");
    if (!DeviceMatchesUser()) {
        m_uploadState.End(0, 0, L"");
        PostOpenSettingsWin();
        return 0;
    }
    {
        std::lock_guard lock(m_dataLock);
        m_deviceOrigData.devOption = kUnchangedOption;
        responseType = 0;
    }
    return UploadOrigData(source->sourceNo);
}

int CPedometerWin::PedoSettingsProc(const uie::value& settings) {
    const CHealthResources* resources = g_pHealthResources;
    const int sourceNo = resources != nullptr ? resources->GetElementSourceNo(L"pedoNumberOfSteps") : -1;
    if (!IsPedometerSource(sourceNo)) return -3;
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    struHealthElementSourceTypeW* source = sources != nullptr ? sources->GetSourceType(sourceNo) : nullptr;
    if (source == nullptr) return -2;
    CDeviceManager* devices = g_pDeviceManager;
    if (devices == nullptr || devices->IsUsbDevicePresent(source->vendorID, source->productID) != 1) return -4;
    if (!ClaimRead()) return -3;

    PostDeviceData();
    if (GetDeviceOrigData().origData.empty() && ReadModuleOrigData(source) < 1) {
        ReleaseRead();
        return -4;
    }
    const int type = SettingInt(settings, L"responseType", 0);
    const auto field = [&settings, type](const wchar_t* key) { return type == 1 ? SettingInt(settings, key, -1) : 0; };
    const int sex = type == 1 ? SettingInt(settings, L"sex", 0) : 0;
    std::wstring option;
    FormatCut(option, kDevOptionChars, L"%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|%d|", type, sex, field(L"age"),
              field(L"height"), field(L"weight"), field(L"pedoStepLength"), type, field(L"dateDuration"),
              field(L"startDate"), field(L"targetStep"), field(L"targetDistance"), field(L"targetEnergy"),
              field(L"targetDuration"));
    {
        std::lock_guard lock(m_dataLock);
        m_deviceOrigData.devOption = option;
        responseType = type;
    }
    const int result = UploadOrigData(sourceNo);
    ReleaseRead();
    return result;
}
