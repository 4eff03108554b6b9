// Report lengths from a HID report descriptor, as the Windows HID capabilities give them.
#pragma once

#include <cstddef>
#include <vector>

#include "WinTypes.h"

struct HidReportLengths {
    std::size_t input = 0;   // the longest input report in bytes plus the id byte; 0 when none
    std::size_t output = 0;  // the same for output reports
    std::size_t feature = 0;  // the same for feature reports
};

// Reads the descriptor's main items; a truncated last item ends the walk.
HidReportLengths ReportLengthsOf(const std::vector<BYTE>& descriptor);
