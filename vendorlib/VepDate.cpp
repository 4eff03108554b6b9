#include "VepDate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Hooks.h"

namespace {

constexpr long long kMinutesPerDay = 24 * 60;
constexpr int kFirstYear = 1900;
constexpr int kLastYear = 9999;

long long FloorDiv(long long a, long long b) { return (a >= 0 ? a : a - b + 1) / b; }

void FormatInto(char* field, std::size_t size, const char* format, int a, int b, int c) {
    if (field == nullptr || size == 0) return;
    char text[48];
    std::snprintf(text, sizeof(text), format, a, b, c);
    std::memset(field, 0, size);
    std::memcpy(field, text, std::min(std::strlen(text), size - 1));
}

long long StampEpochDays() {
    static const long long days = DaysFromCivil(1980, 1, 1);
    return days;
}

}  // namespace

// The era-based conversion of H. Hinnant's "chrono-compatible low-level date algorithms".
long long DaysFromCivil(int year, int month, int day) {
    const long long y = static_cast<long long>(year) - (month <= 2 ? 1 : 0);
    const long long era = FloorDiv(y, 400);
    const long long yoe = y - era * 400;
    // In long long: a month read from a device may be any three-byte value.
    const long long m = month;
    const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

VepDateTime CivilFromDays(long long days) {
    const long long z = days + 719468;
    const long long era = FloorDiv(z, 146097);
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    VepDateTime date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

VepDateTime AddDays(const VepDateTime& when, int days) {
    VepDateTime moved = CivilFromDays(DaysFromCivil(when.year, when.month, when.day) + days);
    moved.hour = when.hour;
    moved.minute = when.minute;
    moved.second = when.second;
    return moved;
}

VepDateTime CarryMinute(VepDateTime when) {
    if (when.minute == 60) {
        when.minute = 0;
        ++when.hour;
    }
    if (when.hour == 24) {
        when.hour = 0;
        when = AddDays(when, 1);
    }
    return when;
}

bool PossibleMoment(const VepDateTime& when) {
    if (when.year < kFirstYear || when.year > kLastYear || when.month < 1 || when.month > 12) return false;
    const long long nextMonth =
        when.month == 12 ? DaysFromCivil(when.year + 1, 1, 1) : DaysFromCivil(when.year, when.month + 1, 1);
    const long long daysInMonth = nextMonth - DaysFromCivil(when.year, when.month, 1);
    return when.day >= 1 && when.day <= daysInMonth && when.hour >= 0 && when.hour <= 23 && when.minute >= 0 &&
           when.minute <= 60 && when.second >= 0 && when.second <= 59;
}

std::uint32_t MinuteStamp(const VepDateTime& when) {
    const long long minutes = (DaysFromCivil(when.year, when.month, when.day) - StampEpochDays()) * kMinutesPerDay +
                              when.hour * 60LL + when.minute;
    if (minutes < 0) return 0;
    return static_cast<std::uint32_t>(minutes);
}

VepDateTime FromMinuteStamp(std::uint32_t stamp) {
    VepDateTime when = CivilFromDays(StampEpochDays() + stamp / kMinutesPerDay);
    const long long minuteOfDay = stamp % kMinutesPerDay;
    when.hour = static_cast<int>(minuteOfDay / 60);
    when.minute = static_cast<int>(minuteOfDay % 60);
    return when;
}

VepDateTime FromDeviceBytes(const BYTE* bytes) {
    return {2000 + bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]};
}

VepDateTime LocalNow() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void FormatDate(char* field, std::size_t size, const char* format, const VepDateTime& when) {
    FormatInto(field, size, format, when.year, when.month, when.day);
}

void FormatTime(char* field, std::size_t size, const VepDateTime& when) {
    FormatInto(field, size, "%02d:%02d:%02d", when.hour, when.minute, when.second);
}
