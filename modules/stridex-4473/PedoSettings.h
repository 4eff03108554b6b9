// The pedometer's settings: the option text the program sends, and the 10-byte settings
// block written to the device in two halves.
#pragma once

#include <array>

#include "WinTypes.h"

constexpr int kPedoSettingsSize = 10;

struct PedoOptions {
    int stepLength = 80;  // cm, or inches on an imperial device
    int weight = 60;      // kg, or pounds on an imperial device
    int dailySteps = 10000;
};

// "step length cm|weight in tenths of a kg|days|steps|": a missing, non-numeric or
// out-of-range field takes its default; the step figure is per day; an imperial device
// gets inches and pounds. Values are cut to the digits the block holds.
PedoOptions ParsePedoOptions(const char* text, bool metric);

// The block from the options, the device's raw bytes (at least 10) and the local time.
std::array<BYTE, kPedoSettingsSize> BuildSettingsBlock(const PedoOptions& options, bool metric, const BYTE* raw,
                                                       int hour, int minute);
