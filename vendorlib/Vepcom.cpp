// The exports. Each body catches everything: an exception must not cross into a
// caller that knows only C.
//
// The serial open serves the calling thread's window messages while it holds the
// library's lock. An export that takes that lock, called from one of those messages,
// would wait for itself for ever: it is refused instead. The polls take no such lock.
#include "Vepcom.h"

#include <cstring>
#include <exception>

#include "VepLibrary.h"

namespace {

// Whether this thread is inside an export that takes the library's lock.
thread_local bool t_insideLocked = false;

template <typename Body>
int Guarded(const char* where, Body body) {
    try {
        return body(VepLibrary::Instance());
    } catch (const std::exception& e) {
        VepLibrary::Instance().TraceException(where, e.what());
    } catch (...) {
        VepLibrary::Instance().TraceException(where, "unknown");
    }
    return -1;
}

template <typename Body>
int Locked(const char* where, Body body) {
    if (t_insideLocked) return VepLibrary::Instance().Refused(where);
    t_insideLocked = true;
    const int result = Guarded(where, body);
    t_insideLocked = false;
    return result;
}

int ZeroFill(void* p, int size) {
    if (p == nullptr || size < 0) return -1;
    std::memset(p, 0, static_cast<std::size_t>(size));
    return 0;
}

constexpr int kBpInfoSize = 220;

}  // namespace

#define VEP_CALL(name, ...) Locked(name, [&](VepLibrary& lib) { return __VA_ARGS__; })
#define VEP_POLL(name, ...) Guarded(name, [&](VepLibrary& lib) { return __VA_ARGS__; })

VEP_API int Vep_Init(int mode) { return VEP_CALL("Vep_Init", lib.Init(mode)); }
VEP_API int Vep_End() { return VEP_CALL("Vep_End", lib.End()); }
VEP_API int Vep_Abort() { return VEP_POLL("Vep_Abort", lib.Abort()); }

VEP_API int Vep_GetDeviceList(int mode, char* models, char* connections) {
    return VEP_CALL("Vep_GetDeviceList", lib.GetDeviceList(mode, models, connections));
}
VEP_API int Vep_SetConnectDeviceName(const char* model) {
    return VEP_CALL("Vep_SetConnectDeviceName", lib.SetConnectDeviceName(model));
}
VEP_API int Vep_GetConnectDeviceName(char* model) {
    return VEP_CALL("Vep_GetConnectDeviceName", lib.GetConnectDeviceName(model));
}
VEP_API int Vep_SetConnectMode(int mode) { return VEP_CALL("Vep_SetConnectMode", lib.SetConnectMode(mode)); }
VEP_API int Vep_GetConnectMode() { return VEP_CALL("Vep_GetConnectMode", lib.GetConnectMode()); }
VEP_API int Vep_OpenDevice() { return VEP_CALL("Vep_OpenDevice", lib.OpenDevice()); }
VEP_API int Vep_GetConnectDeviceID(char* out, int kind) {
    return VEP_CALL("Vep_GetConnectDeviceID", lib.GetConnectDeviceID(out, kind));
}
VEP_API int Vep_GetDeviceInfo(str_device_info* out) { return VEP_CALL("Vep_GetDeviceInfo", lib.GetDeviceInfo(out)); }
VEP_API int Vep_SetComPort(int port) { return VEP_CALL("Vep_SetComPort", lib.SetComPort(port)); }
VEP_API int Vep_DebugMode(int on) { return VEP_CALL("Vep_DebugMode", lib.DebugMode(on)); }
VEP_API int Vep_SetBpMode(int mode) { return VEP_CALL("Vep_SetBpMode", lib.SetBpMode(mode)); }
VEP_API int Vep_SetUserKbn(int user) { return VEP_CALL("Vep_SetUserKbn", lib.SetUserKbn(user)); }
VEP_API int Vep_SetLastDataSerial(int serial) {
    return VEP_CALL("Vep_SetLastDataSerial", lib.SetLastDataSerial(serial));
}

VEP_API int Vep_StartDownload(int) { return VEP_CALL("Vep_StartDownload", lib.StartJob(VepJob::Readings)); }
VEP_API int Vep_StartDownload_WeekData() {
    return VEP_CALL("Vep_StartDownload_WeekData", lib.StartJob(VepJob::Weekly));
}
VEP_API int Vep_StartDownload_MonthData() {
    return VEP_CALL("Vep_StartDownload_MonthData", lib.StartJob(VepJob::Monthly));
}
VEP_API int Vep_StartInfoDownload() { return VEP_CALL("Vep_StartInfoDownload", lib.StartJob(VepJob::InfoRead)); }
VEP_API int Vep_StartInfoUpload() { return VEP_CALL("Vep_StartInfoUpload", lib.StartJob(VepJob::InfoWrite)); }
VEP_API int Vep_DataClear() { return VEP_CALL("Vep_DataClear", lib.StartJob(VepJob::Clear)); }

VEP_API int Vep_GetStatus() { return VEP_POLL("Vep_GetStatus", lib.GetStatus()); }
VEP_API int Vep_GetErrStatus() { return VEP_POLL("Vep_GetErrStatus", lib.GetErrStatus()); }
VEP_API int Vep_GetDownloadStatus() { return VEP_POLL("Vep_GetDownloadStatus", lib.GetProgress()); }
VEP_API int Vep_GetUploadStatus() { return VEP_POLL("Vep_GetUploadStatus", lib.GetProgress()); }

VEP_API int Vep_GetDataCnt() { return VEP_POLL("Vep_GetDataCnt", lib.GetDataCnt()); }
VEP_API int Vep_SetDataCurrent(int no) { return VEP_CALL("Vep_SetDataCurrent", lib.SetDataCurrent(no)); }
VEP_API int Vep_GetBpData(str_bp_retdata* out) { return VEP_CALL("Vep_GetBpData", lib.GetBpData(out)); }
VEP_API int Vep_GetWeekDataCnt() { return VEP_CALL("Vep_GetWeekDataCnt", lib.GetSummaryCnt(false)); }
VEP_API int Vep_GetMonthDataCnt() { return VEP_CALL("Vep_GetMonthDataCnt", lib.GetSummaryCnt(true)); }
VEP_API int Vep_SetWeekDataCurrent(int no) {
    return VEP_CALL("Vep_SetWeekDataCurrent", lib.SetSummaryCurrent(false, no));
}
VEP_API int Vep_SetMonthDataCurrent(int no) {
    return VEP_CALL("Vep_SetMonthDataCurrent", lib.SetSummaryCurrent(true, no));
}
VEP_API int Vep_GetWeekBpData(str_sumbp_data* out) {
    return VEP_CALL("Vep_GetWeekBpData", lib.GetSummaryData(false, out));
}
VEP_API int Vep_GetMonthBpData(str_sumbp_data* out) {
    return VEP_CALL("Vep_GetMonthBpData", lib.GetSummaryData(true, out));
}
VEP_API int Vep_InitBpInfo(void* info) { return ZeroFill(info, kBpInfoSize); }
VEP_API int Vep_GetBpInfo(void* info) { return VEP_CALL("Vep_GetBpInfo", lib.GetBpInfo(info)); }
VEP_API int Vep_SetBpInfo(const void* info) { return VEP_CALL("Vep_SetBpInfo", lib.SetBpInfo(info)); }
VEP_API int Vep_GetWalkingInfo(void* out) { return VEP_CALL("Vep_GetWalkingInfo", lib.GetWalkingInfo(out)); }
VEP_API int Vep_GetWalkingData(void* out) { return VEP_CALL("Vep_GetWalkingData", lib.GetWalkingData(out)); }
VEP_API int Vep_InitStructure(void* p, int size) { return ZeroFill(p, size); }
VEP_API int Vep_InitStrBpData(str_bp_retdata* p) { return ZeroFill(p, sizeof(str_bp_retdata)); }
VEP_API int Vep_InitStrNpData(void* p) { return ZeroFill(p, sizeof(str_np_data)); }
VEP_API int Vep_DataSet() { return 0; }
