// Civil dates for the monitor's stamps and the decoding's roll-overs: plain calendar
// arithmetic on the proleptic Gregorian calendar, so no time-zone rule or daylight
// saving gap can shift an hour the way local-time conversions would.
#pragma once

#include <cstddef>
#include <cstdint>

#include "WinTypes.h"

struct VepDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Days since 1970-01-01 (negative before it).
long long DaysFromCivil(int year, int month, int day);
// The date of a day count; the time of day is 0.
VepDateTime CivilFromDays(long long days);
// The same moment with whole days added (negative: back); the time of day is kept.
VepDateTime AddDays(const VepDateTime& when, int days);
// A minute of 60 becomes minute 0 of the next hour, an hour of 24 hour 0 of the next day.
VepDateTime CarryMinute(VepDateTime when);
// Whether a monitor's stamp names a moment of the calendar (years 1900 to 9999: no
// monitor took a reading before, and a year below 1000 would not fill the four digits of
// a reading's date). A minute of 60 passes: monitors write the full hour so, and
// CarryMinute reads it.
bool PossibleMoment(const VepDateTime& when);

// Minutes since 1980-01-01 00:00, as the monitor stamps its entries; 0 before 1980.
std::uint32_t MinuteStamp(const VepDateTime& when);
VepDateTime FromMinuteStamp(std::uint32_t stamp);

// Six bytes as the monitor sends a moment: year - 2000, month, day, hour, minute, second.
VepDateTime FromDeviceBytes(const BYTE* bytes);

// The local date and time now, through the clock hook.
VepDateTime LocalNow();

// The date through format (the links use "%4d/%02d/%02d", "%04d/%02d/%02d" and
// "%d/%02d/%02d") or the time as "%02d:%02d:%02d", into a field of size bytes:
// NUL-terminated, cut to fit, the rest zero.
void FormatDate(char* field, std::size_t size, const char* format, const VepDateTime& when);
void FormatTime(char* field, std::size_t size, const VepDateTime& when);
