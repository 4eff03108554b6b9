// The interface of the device-module plug-ins, shared by the modules and by the program
// that binds their exports by name: the export set, the records that cross the library
// boundary and the texts both sides agree on. Everything here is plain C data with
// fixed-width integers, so a module built apart from the program still fits it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// An export of a module: C names, default visibility in a library built hidden.
#define QUORV_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

// Module states.
constexpr std::int32_t kModuleStateNew = 0;
constexpr std::int32_t kModuleStateReady = 9;

// One row of a module's element table; attribute type t (1..5) is attr[t - 1].
struct struModuleElement {
    char name[50];
    std::int32_t attr[5];
};
static_assert(sizeof(struModuleElement) == 72);
static_assert(offsetof(struModuleElement, attr) == 52);

constexpr int kModuleElementRows = 3;
constexpr int kModuleAttributeTypes = 5;

// The request block of ReadModuleData: the element name, then the mode ('1' display, '2' value).
struct struModuleReadRequest {
    char name[32];
    char mode;
};
static_assert(sizeof(struModuleReadRequest) == 33);
static_assert(offsetof(struModuleReadRequest, mode) == 32);

// The output area of ReadModuleData: three NUL-terminated texts at these offsets.
constexpr std::size_t kModuleValueOffset = 0;
constexpr std::size_t kModuleTimeOffset = 30;
constexpr std::size_t kModuleTickOffset = 60;
constexpr std::size_t kModuleOutputSize = 71;

// Progress reports of a module's download: state ("1" running, "2" failed, "3" finished),
// message, total, processed, percent.
extern "C" typedef void (*DataProcStatusCallBack)(const char* state, const char* message, const char* total,
                                                  const char* processed, const char* precent);
static_assert(sizeof(DataProcStatusCallBack) == sizeof(void*));

// The exports, in the order modules list them; the pedometer module has the first 16.
extern "C" {
typedef std::int32_t (*InitModuleProc)();
typedef std::int32_t (*CloseModuleProc)();
typedef std::int32_t (*StartWorkProc)();
typedef std::int32_t (*StopWorkProc)();
typedef std::int32_t (*GetModuleStateProc)();
typedef std::int32_t (*GetElementNameProc)();
typedef std::int32_t (*GetElementAttributeProc)(const char* name, std::int32_t type, char* out);
typedef std::int32_t (*DevResetDataProc)();
typedef std::int32_t (*ReadModuleIDProc)();
typedef std::int32_t (*GetModuleIDProc)(char** out);
typedef std::int32_t (*ReadModuleOrigDataProc)();
typedef std::int32_t (*GetModuleOrigDataProc)(char** out);
typedef std::int32_t (*ReadModuleOrigDataToBufProc)(void* buf, std::int32_t size);
typedef std::int32_t (*ReadModuleDataProc)(struModuleReadRequest* req, char* out);
typedef std::int32_t (*ReadModuleHisDataProc)(const char* name, const char* since, char* out, std::uint32_t outSize);
typedef std::int32_t (*SetModuleDevOptionProc)(const char* options);
typedef std::int32_t (*SetModuleDataProcStatusCallBackFuncProc)(DataProcStatusCallBack cb);
typedef std::int32_t (*GetModuleDataProcStatusProc)();
}

constexpr const char* kModuleExportNames[] = {
    "InitModule",       "CloseModule",         "StartWork",
    "StopWork",         "GetModuleState",      "GetElementName",
    "GetElementAttribute", "dev_ResetData",    "ReadModuleID",
    "GetModuleID",      "ReadModuleOrigData",  "GetModuleOrigData",
    "ReadModuleOrigDataToBuf", "ReadModuleData", "ReadModuleHisData",
    "SetModuleDevOption", "SetModuleDataProcStatusCallBackFunc", "GetModuleDataProcStatus",
};
constexpr int kPedometerExportCount = 16;

// GetElementAttribute over a module's table: the name matched exactly, type 1..5 written
// as "%d" into out; -1 (out untouched) for an unknown name, a type outside 1..5 or a null
// pointer.
inline std::int32_t LookUpElementAttribute(const struModuleElement (&rows)[kModuleElementRows], const char* name,
                                           std::int32_t type, char* out) {
    if (name == nullptr || out == nullptr || type < 1 || type > kModuleAttributeTypes) return -1;
    for (const auto& row : rows) {
        // Bounded by the row's own NUL, so an unterminated name is never read past it.
        if (std::strncmp(row.name, name, sizeof(row.name)) != 0) continue;
        // An int32 in decimal takes at most 11 characters.
        std::snprintf(out, 12, "%d", static_cast<int>(row.attr[type - 1]));
        return 0;
    }
    return -1;
}

// One row of a history text: date|value|date|` with the date as yyyy-mm-dd. Returns the
// row's length; out holds it whole when that is below size.
inline int FormatModuleHistoryRow(char* out, std::size_t size, int year, int month, int day, int value) {
    char date[40];
    std::snprintf(date, sizeof(date), "%d-%02d-%02d", year, month, day);
    return std::snprintf(out, size, "%s%c%d%c%s%c%c", date, '|', value, '|', date, '|', '`');
}
