// The records the blood-pressure monitor library hands to its callers. They cross a
// library boundary, so every field has a fixed width and a checked offset; integers
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
