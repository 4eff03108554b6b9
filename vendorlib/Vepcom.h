// The blood-pressure monitor library's exports and the records it hands to its
// callers. The records cross a library boundary, so every field has a fixed width and a checked offset; integers
// are little-endian as on the machines the library runs on.
#pragma once

#include <cstddef>
#include <cstdint>

// One blood-pressure reading (72 bytes).
struct str_bp_retdata {
    std::int32_t systolic;
    std::int32_t diastolic;
    std::int32_t pulse;
    std::int32_t number;  // reading number within its group
    std::int32_t count;
    std::int32_t setCount;
    std::int32_t memo;
    std::int32_t moveFlag;  // body movement
    std::int32_t irregularPulse;
    std::int32_t kind;        // 0 none, 1..3 by the reading number
    std::int32_t serial;      // 0 when the monitor gives none
    std::int32_t reserved44;  // never written by the library
    char date[11];            // "%4d/%02d/%02d"
    char time[9];             // "%02d:%02d:%02d"
    std::int32_t reserved68;  // always 0
};

// One weekly or monthly summary (80 bytes). Slot 0 morning, 1 a second slot,
// 2 evening, 3 morning and evening together.
struct str_sumbp_data {
    char date[12];  // "%04d/%02d/%02d"
    std::int32_t number;
    std::int32_t systolic[4];
    std::int32_t diastolic[4];
    std::int32_t pulse[4];
    std::int32_t valid[4];
};

// What the library knows of the connected device (44 bytes). The name and revision
// fill their fields and are not NUL-terminated when they do.
struct str_device_info {
    char name[10];
    char revision[10];
    char model[16];
    std::int32_t modelNumber;
    std::int32_t subNumber;
};

static_assert(sizeof(str_bp_retdata) == 72);
static_assert(offsetof(str_bp_retdata, irregularPulse) == 32);
static_assert(offsetof(str_bp_retdata, kind) == 36);
static_assert(offsetof(str_bp_retdata, serial) == 40);
static_assert(offsetof(str_bp_retdata, reserved44) == 44);
static_assert(offsetof(str_bp_retdata, date) == 48);
static_assert(offsetof(str_bp_retdata, time) == 59);
static_assert(offsetof(str_bp_retdata, reserved68) == 68);

static_assert(sizeof(str_sumbp_data) == 80);
static_assert(offsetof(str_sumbp_data, number) == 12);
static_assert(offsetof(str_sumbp_data, systolic) == 16);
static_assert(offsetof(str_sumbp_data, diastolic) == 32);
static_assert(offsetof(str_sumbp_data, pulse) == 48);
static_assert(offsetof(str_sumbp_data, valid) == 64);

static_assert(sizeof(str_device_info) == 44);
static_assert(offsetof(str_device_info, revision) == 10);
static_assert(offsetof(str_device_info, model) == 20);
static_assert(offsetof(str_device_info, modelNumber) == 36);
static_assert(offsetof(str_device_info, subNumber) == 40);

// The walking device's head (8 bytes): two profile bytes, then height, weight and
// stride.
struct str_np_head {
    std::uint8_t spec[2];
    std::int16_t height;
    std::int16_t weight;
    std::int16_t stride;
};

// One day of the walking device (184 bytes). Counts keep their low 14 bits; a flag is
// bit 14 of the raw hourly value (the first list's also 1 when its count is not 0).
struct str_np_data {
    std::uint8_t reserved[8];  // never written by the library
    char date[11];             // "%4d/%02d/%02d"
    std::uint8_t pad19;
    std::int32_t nwalk;
    std::int32_t nwalks;
    std::int32_t twalks;
    std::int32_t carorie;
    std::int32_t distance;
    std::int32_t fatBurn;
    std::int32_t daySerial;  // low 15 bits
    std::uint16_t tmNwalk[24];
    std::uint16_t tmNwalks[24];
    std::uint8_t tmNwalkFlag[24];
    std::uint8_t tmNwalksFlag[16];  // hours 0..15 only
};

static_assert(sizeof(str_np_head) == 8);
static_assert(offsetof(str_np_head, height) == 2);
static_assert(sizeof(str_np_data) == 184);
static_assert(offsetof(str_np_data, date) == 8);
static_assert(offsetof(str_np_data, nwalk) == 20);
static_assert(offsetof(str_np_data, daySerial) == 44);
static_assert(offsetof(str_np_data, tmNwalk) == 48);
static_assert(offsetof(str_np_data, tmNwalks) == 96);
static_assert(offsetof(str_np_data, tmNwalkFlag) == 144);
static_assert(offsetof(str_np_data, tmNwalksFlag) == 168);

// The library's exports: C calling convention, int results, no exception crosses them.
// A call that needs Vep_Init before it, or a null pointer, gives -1 and changes nothing.
#define VEP_API extern "C" __attribute__((visibility("default")))

// Vep_GetDeviceList writes each of its two texts with its NUL into a caller buffer of
// this many bytes; a longer list is cut to fit.
#define VEP_DEVICE_LIST_SIZE 4096

// Life cycle. Vep_Init and Vep_End abort and wait for a running job first; Vep_End
// also deletes the work files "down.dat", "down2.dat", "week.dat" and "info.dat".
VEP_API int Vep_Init(int mode);  // 0 blood-pressure monitors, 1 walking-data devices
VEP_API int Vep_End();
VEP_API int Vep_Abort();

// Models and connection.
VEP_API int Vep_GetDeviceList(int mode, char* models, char* connections);
VEP_API int Vep_SetConnectDeviceName(const char* model);  // at most 31 bytes are kept
VEP_API int Vep_GetConnectDeviceName(char* model);        // model holds 32 bytes
VEP_API int Vep_SetConnectMode(int mode);
VEP_API int Vep_GetConnectMode();
// 0 opened, 11 aborted, -1 no model or a model of an unknown connection, else the
// link's failure code (16 no USB-serial adapter, 3 no serial port, 1 no storage volume).
VEP_API int Vep_OpenDevice();
// kind 0 the device name, 1 its revision, any other ""; out holds 11 bytes.
VEP_API int Vep_GetConnectDeviceID(char* out, int kind);
VEP_API int Vep_GetDeviceInfo(str_device_info* out);
VEP_API int Vep_SetComPort(int port);
VEP_API int Vep_DebugMode(int on);  // trace lines appended to "debug.txt"
VEP_API int Vep_SetBpMode(int mode);
VEP_API int Vep_SetUserKbn(int user);
VEP_API int Vep_SetLastDataSerial(int serial);

// Jobs, one at a time on a worker thread: a start while a job runs returns 0 and
// starts nothing; -1 before Vep_OpenDevice opened a device. Writing the full settings
// (Vep_StartInfoUpload) erases the monitor's stored readings: download them first.
VEP_API int Vep_StartDownload(int unused);
VEP_API int Vep_StartDownload_WeekData();
VEP_API int Vep_StartDownload_MonthData();
VEP_API int Vep_StartInfoDownload();  // 1 when the model has no settings
VEP_API int Vep_StartInfoUpload();    // 1 when the model has no settings
VEP_API int Vep_DataClear();

// Polling: 1 while a job runs, then 0 when it succeeded, -1 when it failed.
VEP_API int Vep_GetStatus();
VEP_API int Vep_GetErrStatus();
VEP_API int Vep_GetDownloadStatus();  // percent
VEP_API int Vep_GetUploadStatus();

// Data access, refused (-1) while a job runs; an index outside the store is refused.
// The reading selection is then kept; a summary selection is dropped, so the next
// summary get is refused rather than answered with another summary.
VEP_API int Vep_GetDataCnt();
VEP_API int Vep_SetDataCurrent(int no);
VEP_API int Vep_GetBpData(str_bp_retdata* out);
VEP_API int Vep_GetWeekDataCnt();
VEP_API int Vep_GetMonthDataCnt();
VEP_API int Vep_SetWeekDataCurrent(int no);
VEP_API int Vep_SetMonthDataCurrent(int no);
VEP_API int Vep_GetWeekBpData(str_sumbp_data* out);
VEP_API int Vep_GetMonthBpData(str_sumbp_data* out);
VEP_API int Vep_InitBpInfo(void* info);       // 220 bytes
VEP_API int Vep_GetBpInfo(void* info);        // 1 when byte 32 is 0, else 0
VEP_API int Vep_SetBpInfo(const void* info);  // 220 bytes
VEP_API int Vep_GetWalkingInfo(void* out);    // str_np_head
VEP_API int Vep_GetWalkingData(void* out);    // str_np_data, bytes 0..7 left as they are
VEP_API int Vep_InitStructure(void* p, int size);
VEP_API int Vep_InitStrBpData(str_bp_retdata* p);
VEP_API int Vep_InitStrNpData(void* p);
VEP_API int Vep_DataSet();
