// The binding of the monitor library: the library file, its handle and the 22 exports the
// module binds by name, each written once in one table with the code InitModule gives
// when it is missing. The calls take their types from the library's own header.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "DynamicLibrary.h"
#include "Vepcom.h"

// One export of the binding table.
struct VepBindingRow {
    std::string_view name;
    int missing;  // InitModule's result when the library lacks it
};

inline constexpr VepBindingRow kVepBinding[] = {
    {"Vep_Init", -101},
    {"Vep_OpenDevice", -102},
    {"Vep_End", -103},
    {"Vep_GetDeviceList", -104},
    {"Vep_SetConnectDeviceName", -105},
    {"Vep_GetDeviceInfo", -106},
    {"Vep_GetConnectDeviceID", -107},
    {"Vep_SetUserKbn", -108},
    {"Vep_StartDownload", -109},
    {"Vep_GetStatus", -110},
    {"Vep_GetDownloadStatus", -111},
    {"Vep_GetErrStatus", -112},
    {"Vep_GetDataCnt", -113},
    {"Vep_SetDataCurrent", -114},
    {"Vep_GetBpData", -115},
    {"Vep_Abort", -116},
    {"Vep_GetConnectDeviceName", -117},
    {"Vep_InitStrBpData", -118},
    {"Vep_StartDownload_WeekData", -119},
    {"Vep_GetWeekDataCnt", -120},
    {"Vep_SetWeekDataCurrent", -121},
    {"Vep_GetWeekBpData", -122},
};
inline constexpr std::size_t kVepExportCount = std::size(kVepBinding);
static_assert(kVepExportCount == 22);

// Where the called exports stand in the binding table.
enum VepCall : std::size_t {
    kVepInit = 0,
    kVepOpenDevice = 1,
    kVepEnd = 2,
    kVepStartDownload = 8,
    kVepGetStatus = 9,
    kVepGetDownloadStatus = 10,
    kVepGetErrStatus = 11,
    kVepGetDataCnt = 12,
    kVepSetDataCurrent = 13,
    kVepGetBpData = 14,
    kVepAbort = 15,
};
static_assert(kVepBinding[kVepInit].name == "Vep_Init" && kVepBinding[kVepOpenDevice].name == "Vep_OpenDevice" &&
              kVepBinding[kVepEnd].name == "Vep_End" && kVepBinding[kVepStartDownload].name == "Vep_StartDownload" &&
              kVepBinding[kVepGetStatus].name == "Vep_GetStatus" &&
              kVepBinding[kVepGetDownloadStatus].name == "Vep_GetDownloadStatus" &&
              kVepBinding[kVepGetErrStatus].name == "Vep_GetErrStatus" &&
              kVepBinding[kVepGetDataCnt].name == "Vep_GetDataCnt" &&
              kVepBinding[kVepSetDataCurrent].name == "Vep_SetDataCurrent" &&
              kVepBinding[kVepGetBpData].name == "Vep_GetBpData" && kVepBinding[kVepAbort].name == "Vep_Abort");

// The library could not be loaded.
inline constexpr int kVepNoLibrary = -2;
// The path buffer of the library, in characters.
inline constexpr std::size_t kVepPathChars = 260;

struct struVepInterface {
    struVepInterface() = default;
    ~struVepInterface();
    struVepInterface(const struVepInterface&) = delete;
    struVepInterface& operator=(const struVepInterface&) = delete;

    // Loads the library and binds every export in table order: 0, -2 when the library
    // does not load, or the code of the first missing export (nothing stays loaded then).
    int Load(const std::wstring& libraryPath);

    // The calls the download makes.
    int Init(int mode) const { return Call<decltype(&Vep_Init)>(kVepInit, mode); }
    int OpenDevice() const { return Call<decltype(&Vep_OpenDevice)>(kVepOpenDevice); }
    int End() const { return Call<decltype(&Vep_End)>(kVepEnd); }
    int StartDownload(int unused) const { return Call<decltype(&Vep_StartDownload)>(kVepStartDownload, unused); }
    int GetStatus() const { return Call<decltype(&Vep_GetStatus)>(kVepGetStatus); }
    int GetDownloadStatus() const { return Call<decltype(&Vep_GetDownloadStatus)>(kVepGetDownloadStatus); }
    int GetErrStatus() const { return Call<decltype(&Vep_GetErrStatus)>(kVepGetErrStatus); }
    int GetDataCnt() const { return Call<decltype(&Vep_GetDataCnt)>(kVepGetDataCnt); }
    int SetDataCurrent(int no) const { return Call<decltype(&Vep_SetDataCurrent)>(kVepSetDataCurrent, no); }
    int GetBpData(str_bp_retdata* out) const { return Call<decltype(&Vep_GetBpData)>(kVepGetBpData, out); }
    int Abort() const { return Call<decltype(&Vep_Abort)>(kVepAbort); }

    std::wstring path;
    HMODULE handle = nullptr;
    std::array<FARPROC, kVepExportCount> procs{};

private:
    template <typename Proc, typename... Args>
    int Call(VepCall index, Args... args) const {
        return reinterpret_cast<Proc>(procs[index])(args...);
    }

    void Free();
};
