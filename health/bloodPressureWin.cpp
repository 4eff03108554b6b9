#include "bloodPressureWin.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "BloodPressureGraph.h"
#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthDevices.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "IntDate.h"
#include "Text.h"

std::atomic<CBloodPressureWin*> g_pBloodPressure{nullptr};

namespace {

constexpr const char* kGraphMovie = "../graph/BloodPressure/bloodPressureData_Box.swf";
constexpr const char* kGraphData = "../graph/BloodPressure/data.xml";
// The monitor's reading record.
constexpr int kRecordBytes = 72;
// A module's records are never copied past this, whatever count it claims (the library
// hands out at most 700).
constexpr int kRecordsMax = 10000;
// A status text is never read past this.
constexpr std::size_t kStatusTextMax = 1024;

constexpr const wchar_t* kFailed = L"2";
constexpr const wchar_t* kNone = L"-1";
constexpr const wchar_t* kNoSource = L"读取设备失败! ";
constexpr const wchar_t* kInitFailed = L"初始化设备失败! ";
constexpr const wchar_t* kReadFailed = L"读设备数据失败! ";
constexpr const wchar_t* kDataFailed = L"设备数据处理失败。";

std::string_view Bounded(const char* text) {
    return text != nullptr ? std::string_view(text, strnlen(text, kStatusTextMax)) : std::string_view();
}

int StatusInt(const char* text) { return std::atoi(std::string(Bounded(text)).c_str()); }

long StatusLong(const char* text) { return std::atol(std::string(Bounded(text)).c_str()); }

}  // namespace

CBloodPressureWin::CBloodPressureWin() {
    m_cs.ownThread = true;
    m_cs.name = L"BloodPressureWin";
    m_cs.page = g_Config.m_config.bloodPressurePage;
    m_cs.style = WS_POPUP | WS_VISIBLE | WS_SYSMENU;
    m_cs.exStyle = 0;
    m_cs.showOnCreate = true;
    try {
        m_graph = std::make_unique<CBloodPressureGraph>(kGraphMovie, kGraphData);
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, L"CBloodPressureWin::CBloodPressureWin", L"new CBloodPressureGraph fail!");
    }
    WatchUploadReplies();
}

CBloodPressureWin::~CBloodPressureWin() { JoinDeviceRead(); }

// ---- the window -----------------------------------------------------------------------

void CBloodPressureWin::Init() {
    BindPageElements(kRoundDiameter, kTitle);
    CSciterWindow::Init();
    // A page opened during a download learns of it once it is loaded.
    const int pending = m_nPendingSourceNo.load();
    if (GetLoadStatus().state == 1 && pending != -1) PostDevDataLoad(pending);
}

void CBloodPressureWin::CallPage(const char* name, const sciter::value& arg) {
    if (!m_root.is_valid()) {
        LOGF(LOG_MESSAGE, L"CBloodPressureWin::OnCommand", L"default_root is null.");
        return;
    }
    callElementFunction(m_root, name, arg);
}

LRESULT CBloodPressureWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg != WM_COMMAND) return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    switch (LOWORD(wParam)) {
        case ID_CMD_BP_DEVDATALOAD:
            // Only a loaded page has the function (Init announces the download again then),
            // and it hears of one download once.
            if (m_root.is_valid() && (GetState() != kStateReady || m_bDevDataLoadShown.exchange(true))) return 0;
            CallPage("DevDataLoad", sciter::value(static_cast<int>(lParam)));
            return 0;
        case ID_CMD_BP_REFRESH:
            CallPage("RefreshBpData", sciter::value(static_cast<int>(lParam)));
            return 0;
        case ID_CMD_BP_LOADPROGRESS:
            CallPage("DataLoadSet", GetLoadStatusObject());
            return 0;
        default:
            return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    }
}

bool CBloodPressureWin::PostDevDataLoad(int sourceNo) const { return PostCommand(ID_CMD_BP_DEVDATALOAD, sourceNo); }

std::string CBloodPressureWin::GenBloodPressureGraphData(const uie::value& options, const uie::value& records) const {
    std::string xml;
    if (m_graph != nullptr) m_graph->GenGraphData(options, records, xml);
    return xml;
}

// ---- the download's progress ------------------------------------------------------------

uie::value CBloodPressureWin::GetLoadStatusObject() const {
    const struBpLoadStatus s = GetLoadStatus();
    return records::MakeObject({{L"state", uie::value(s.state)},
                                {L"msg", uie::value(s.msg)},
                                {L"total", uie::value(s.total)},
                                {L"processed", uie::value(s.processed)},
                                {L"precent", uie::value(s.precent)}});
}

void CBloodPressureWin::BpDataProcStatusCallBack(const char* state, const char* message, const char* total,
                                                 const char* processed, const char* precent) {
    if (CBloodPressureWin* window = g_pBloodPressure) window->TakeLoadStatus(state, message, total, processed, precent);
}

void CBloodPressureWin::TakeLoadStatus(const char* state, const char* message, const char* total,
                                       const char* processed, const char* precent) {
    struBpLoadStatus status;
    status.state = StatusInt(state);
    status.msg = text::FromAnsi(Bounded(message));
    status.total = static_cast<int>(StatusLong(total));
    status.processed = static_cast<int>(StatusLong(processed));
    status.precent = StatusInt(precent);
    SetLoadStatus(status);
}

void CBloodPressureWin::Report(const wchar_t* state, const wchar_t* message, const wchar_t* total,
                               const wchar_t* processed, const wchar_t* precent) {
    // The same path as the module's reports, in the module's code page.
    TakeLoadStatus(text::ToAnsi(state).c_str(), text::ToAnsi(message).c_str(), text::ToAnsi(total).c_str(),
                   text::ToAnsi(processed).c_str(), text::ToAnsi(precent).c_str());
}

// ---- the device read --------------------------------------------------------------------

int CBloodPressureWin::DevChangeProc(const struHealthElementSourceTypeW* source, int start) {
    const int sourceNo = source != nullptr ? source->sourceNo : -1;
    LOGF(LOG_MESSAGE, L"CBloodPressureWin::DevChangeProc", L"DevChangeProc:[%d][%d]", sourceNo, start);
    if (start == 0) {
        WaitReadEnd();
        WithReadState([](struBpDeviceReadState& read) {
            read = struBpDeviceReadState{};
            read.userNo = 0;
        });
        return 0;
    }
    // One read at a time: a second arrival during a read starts none.
    StartDeviceRead(L"CBloodPressureWin::DevChangeProc", source,
                    [this](struHealthElementSourceTypeW* record) { DevDataLoadProc(record); });
    return 0;
}

int CBloodPressureWin::DevDataLoadProc(struHealthElementSourceTypeW* source) {
    const int sourceNo = source != nullptr ? source->sourceNo : -1;
    m_bDevDataLoadShown = false;  // before anything announces this download
    m_nPendingSourceNo = sourceNo;
    SetLoadStatus({1, L"准备下载数据...", -1, -1, 0});
    PostDevDataLoad(sourceNo);
    WithBussData([](struBpDeviceBussData& batch) { batch.deviceID.clear(); });
    const int read = ReadModuleOrigData(source);
    if (read < 0) return m_uploadState.End(read, read, kDataFailed);
    return read;
}

int CBloodPressureWin::ReadModuleOrigData(struHealthElementSourceTypeW* source) {
    if (source == nullptr) {
        Report(kFailed, L"系统错误", kNone, kNone, kNone);
        return m_uploadState.End(-4, 0, kNoSource);
    }
    if (source->moduleInterface.load() == nullptr && !source->interfaceName.empty()) {
        CHealthResources* resources = g_pHealthResources;
        const int bound = resources != nullptr ? resources->InitModuleInterface(source) : -1;
        if (bound < 0) {
            Report(kFailed, L"初始化设备失败!", kNone, kNone, kNone);
            return m_uploadState.End(bound, bound, kInitFailed);
        }
    }
    struModuleInterface* module = source->moduleInterface.load();
    if (module == nullptr) {
        // Nothing can read this source: the page must not wait on "running" for ever.
        Report(kFailed, L"初始化设备失败!", kNone, kNone, kNone);
        return m_uploadState.End(-1, -1, kInitFailed);
    }
    // A reading dated between the two times is one the monitor left undated.
    const std::wstring beginTime = GetCurTimeStrSeconds();
    const int bytes = TakeModuleRecords(module, source->sourceNo);
    if (bytes < 0) return bytes;
    Report(L"1", L"解析数据...", kNone, kNone, L"100");
    WithReadState([&](struBpDeviceReadState& read) {
        read.beginTime = beginTime;
        read.readTime = GetCurTimeStrSeconds();
    });
    OrigDataToBussData_1002();
    Report(L"3", L"下载设备数据完成。", kNone, kNone, L"100");
    return bytes;
}

int CBloodPressureWin::TakeModuleRecords(struModuleInterface* module, int sourceNo) {
    std::vector<unsigned char> records;
    int read = 0;
    int bytes = 0;
    {
        // The module's records stay valid only until its next read: copied under its lock.
        std::lock_guard call(module->callLock);
        if (module->SetModuleDataProcStatusCallBackFunc != nullptr)
            module->SetModuleDataProcStatusCallBackFunc(&CBloodPressureWin::BpDataProcStatusCallBack);
        read = module->ReadModuleOrigData();
        char* data = nullptr;
        if (read == 0) bytes = module->GetModuleOrigData(&data);
        if (bytes > 0 && data != nullptr) {
            const int whole = std::min(bytes / kRecordBytes, kRecordsMax) * kRecordBytes;
            records.assign(data, data + whole);
        }
    }
    if (read != 0) {
        // A library's error code may be positive: never taken for a byte count.
        const int code = -std::abs(read);
        Report(kFailed, L"读设备数据失败!", kNone, kNone, kNone);
        return m_uploadState.End(code, code, kReadFailed);
    }
    if (bytes < 0) {
        LOGF(LOG_ERROR, L"CBloodPressureWin::ReadModuleOrigData", L"getModuleOrigData[%d]", bytes);
        Report(kFailed, L"读设备数据失败!", kNone, kNone, kNone);
        return m_uploadState.End(bytes, bytes, kReadFailed);
    }
    const int userNo = LoggedInUserNo();
    WithReadState([&](struBpDeviceReadState& read) {
        read.userNo = userNo;
        read.sourceNo = sourceNo;
        read.recordCount = static_cast<int>(records.size()) / kRecordBytes;
        read.origData = std::move(records);
    });
    return bytes;
}
