#include "IntDate.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <limits>

#include "Config.h"
#include "Hooks.h"
#include "MyDatabase.h"
#include "Text.h"

namespace {

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The day count and the text parser treat every fourth year as a leap year; their
// ranges make that exact except for 1900, which the parser accepts as a leap year.
int MonthLengthEvery4(int year, int month) {
    return month == 2 && year % 4 == 0 ? 29 : kMonthDays[month - 1];
}

bool IsGregorianLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days since 1970-01-01 in the proleptic Gregorian calendar; counting calendar days
// keeps daylight-saving changes out of the differences.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Calendar days of an integer date, or false when the date cannot exist.
bool CivilDaysOf(int date, std::int64_t& days) {
    const int year = date / 10000;
    const int month = (date % 10000) / 100;
    const int day = date % 100;
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    const int length = month == 2 && IsGregorianLeap(year) ? 29 : kMonthDays[month - 1];
    if (day > length) return false;
    days = DaysFromCivil(year, month, day);
    return true;
}

int CountOrFailure(std::int64_t count) {
    return count < 0 || count > std::numeric_limits<int>::max() ? -1 : static_cast<int>(count);
}

// The field of len characters at pos, digits only.
bool ReadField(const char* text, std::size_t pos, std::size_t len, int& value) {
    char field[8] = {};
    if (len >= sizeof field) return false;
    std::memcpy(field, text + pos, len);
    if (!IsDigitString(field)) return false;
    value = 0;
    for (std::size_t i = 0; i < len; ++i) value = value * 10 + (field[i] - '0');
    return true;
}

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

SYSTEMTIME Now() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return st;
}

using CountFn = int (*)(const SYSTEMTIME&);

CountFn CountForUnit(const char* unit) {
    struct Unit {
        const char* name;
        const char* shortName;
        CountFn count;
    };
    static constexpr Unit kUnits[] = {
        {"day", "dd", DayCountFrom2000},
        {"hour", "hh", HourCountFrom2000},
        {"minute", "mm", MinuteCountFrom2000},
        {"second", "ss", SecondCountFrom2000},
    };
    for (const Unit& u : kUnits) {
        if (std::strcmp(unit, u.name) == 0 || std::strcmp(unit, u.shortName) == 0) return u.count;
    }
    return nullptr;
}

// Mirrors the fixed buffers of 80 characters the callers' texts were made to fit.
constexpr std::size_t kMaxDateText = 79;

bool IsAnsiCodePage(UINT cp) { return cp == kCodePageAnsi || cp == kCodePageGbk; }

}  // namespace

bool IsDigitString(const char* text) {
    if (text == nullptr) return false;
    for (std::size_t i = 0; i < 1025; ++i) {
        if (text[i] == '\0') return true;
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return false;
}

int DayCountFrom2000(const SYSTEMTIME& st) {
    const int year = st.wYear;
    const int month = st.wMonth;
    const int day = st.wDay;
    if (year < 2000 || year > 2099 || month < 1 || month > 12 || day < 1) return -1;
    if (day > MonthLengthEvery4(year, month)) return -1;
    const int years = year - 2000;
    int count = years * 365 + (years + 3) / 4;
    for (int m = 1; m < month; ++m) count += MonthLengthEvery4(year, m);
    return count + day - 1;
}

int HourCountFrom2000(const SYSTEMTIME& st) {
    const int days = DayCountFrom2000(st);
    if (days < 0) return -1;
    return CountOrFailure(std::int64_t{days} * 24 + st.wHour);
}

int MinuteCountFrom2000(const SYSTEMTIME& st) {
    const int hours = HourCountFrom2000(st);
    if (hours < 0) return -1;
    return CountOrFailure(std::int64_t{hours} * 60 + st.wMinute);
}

int SecondCountFrom2000(const SYSTEMTIME& st) {
    const int minutes = MinuteCountFrom2000(st);
    if (minutes < 0) return -1;
    return CountOrFailure(std::int64_t{minutes} * 60 + st.wSecond);
}

int StrToSystemTime(const char* text, SYSTEMTIME* out) {
    if (text == nullptr || out == nullptr) return 0;
    std::size_t length = 0;
    while (length < 24 && text[length] != '\0') ++length;
    if (length != 10 && length != 19 && length != 23) return 0;

    if (text[4] != '-' || text[7] != '-') return 0;
    if (length >= 19 && (text[10] != ' ' || text[13] != ':' || text[16] != ':')) return 0;
    if (length == 23 && text[19] != '.') return 0;

    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (!ReadField(text, 0, 4, year) || !InRange(year, 1900, 2099)) return 0;
    if (!ReadField(text, 5, 2, month) || !InRange(month, 1, 12)) return 0;
    if (!ReadField(text, 8, 2, day) || !InRange(day, 1, MonthLengthEvery4(year, month))) return 0;
    if (length >= 19) {
        if (!ReadField(text, 11, 2, hour) || !InRange(hour, 0, 23)) return 0;
        if (!ReadField(text, 14, 2, minute) || !InRange(minute, 0, 59)) return 0;
        if (!ReadField(text, 17, 2, second) || !InRange(second, 0, 59)) return 0;
    }
    if (length == 23 && !ReadField(text, 20, 3, ms)) return 0;

    // 1970-01-01 was a Thursday (4); for 2000-2099 this agrees with the day count.
    // The 29th of February 1900 falls on the weekday of 1 March, which nobody reads.
    const std::int64_t days = DaysFromCivil(year, month, day);
    const int weekDay = static_cast<int>(((days + 4) % 7 + 7) % 7);

    *out = SYSTEMTIME{static_cast<WORD>(year),   static_cast<WORD>(month),  static_cast<WORD>(weekDay),
                      static_cast<WORD>(day),    static_cast<WORD>(hour),   static_cast<WORD>(minute),
                      static_cast<WORD>(second), static_cast<WORD>(ms)};
    return 1;
}

std::wstring SystemTimeToStr(const SYSTEMTIME& st) {
    wchar_t buffer[64];
    const int n = std::swprintf(buffer, std::size(buffer), L"%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear,
                                st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<std::size_t>(n));
}

std::wstring GetCurTimeStr() { return SystemTimeToStr(Now()); }

std::wstring GetCurTimeStrSeconds() {
    const SYSTEMTIME st = Now();
    wchar_t buffer[64];
    const int n = std::swprintf(buffer, std::size(buffer), L"%d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth,
                                st.wDay, st.wHour, st.wMinute, st.wSecond);
    return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<std::size_t>(n));
}

int DateDiffBySystemTime(const char* unit, const SYSTEMTIME& older, const SYSTEMTIME& newer, int* out) {
    if (unit == nullptr || out == nullptr) return 0;
    const CountFn count = CountForUnit(unit);
    if (count == nullptr) return 0;
    const int olderCount = count(older);
    if (olderCount < 0) return 0;
    const int newerCount = count(newer);
    if (newerCount < 0) return 0;
    *out = newerCount - olderCount;
    return 1;
}

int DateDiff(const std::wstring& unit, const std::wstring& older, const std::wstring& newer) {
    const std::string olderText = text::ToAnsi(older);
    SYSTEMTIME olderTime{};
    if (olderText.size() > kMaxDateText || StrToSystemTime(olderText.c_str(), &olderTime) == 0) {
        return kDateDiffBadOlder;
    }
    const std::string newerText = text::ToAnsi(newer);
    SYSTEMTIME newerTime{};
    if (newerText.size() > kMaxDateText || StrToSystemTime(newerText.c_str(), &newerTime) == 0) {
        return kDateDiffBadNewer;
    }
    int diff = 0;
    if (DateDiffBySystemTime(text::ToAnsi(unit).c_str(), olderTime, newerTime, &diff) == 0) return kDateDiffFailed;
    return diff;
}

int GetCurDate() {
    const SYSTEMTIME st = Now();
    return st.wYear * 10000 + st.wMonth * 100 + st.wDay;
}

int GetCurYear() { return Now().wYear; }
int GetCurMonth() { return Now().wMonth; }
int GetCurDay() { return Now().wDay; }

int GetWeekDay() {
    const int weekDay = Now().wDayOfWeek;
    return weekDay == 0 ? 7 : weekDay;
}

int GetCurTimeHHMM() {
    const SYSTEMTIME st = Now();
    return st.wHour * 100 + st.wMinute;
}

int AddTimeHHMM(int a, int b) {
    // 64 bits so that absurd inputs cannot overflow; in range the result is the same.
    const auto minutes = [](std::int64_t t) { return t / 100 * 60 + t % 100; };
    const std::int64_t r = (minutes(a) + minutes(b)) % 1440;
    return static_cast<int>(r / 60 * 100 + r % 60);
}

int GetAgeByDate(int birth, int at) {
    const int age = at / 10000 - birth / 10000;
    return at % 10000 < birth % 10000 ? age - 1 : age;
}

int IntDateDiff(int d1, int d2, int unit) {
    std::int64_t unused = 0;
    if (!CivilDaysOf(d1, unused) || !CivilDaysOf(d2, unused)) return -1;
    switch (unit) {
    case kIntDateYears:
        return d2 / 10000 - d1 / 10000;
    case kIntDateMonths:
        return MonthDiffIntDate(d1, d2);
    case kIntDateDays:
        return DayDiffIntDate(d1, d2);
    case kIntDateWeeks:
        return WeekDiffIntDate(d1, d2);
    default:
        return -1;
    }
}

int MonthDiffIntDate(int d1, int d2) {
    const int y1 = d1 / 10000, m1 = (d1 % 10000) / 100;
    const int y2 = d2 / 10000, m2 = (d2 % 10000) / 100;
    if (y1 == y2) return m2 - m1;
    if (y2 - y1 < 1) return 0;
    return (y2 - y1) * 12 + m2 - m1 + 1;
}

int DayDiffIntDate(int d1, int d2) {
    std::int64_t days1 = 0, days2 = 0;
    if (!CivilDaysOf(d1, days1) || !CivilDaysOf(d2, days2)) return -1;
    return static_cast<int>(days2 - days1);
}

int WeekIndexIntDate(int date) {
    static const std::int64_t kWeekOrigin = DaysFromCivil(1979, 1, 1);
    // 1979-01-01 was a Monday, so its week ends after six days.
    constexpr std::int64_t kFirstWeekDays = 6;
    std::int64_t days = 0;
    if (!CivilDaysOf(date, days)) return -1;
    days -= kWeekOrigin;
    if (days < kFirstWeekDays) return 1;
    return static_cast<int>((days - kFirstWeekDays) / 7 + 2);
}

int WeekDiffIntDate(int d1, int d2) {
    const int w1 = WeekIndexIntDate(d1);
    const int w2 = WeekIndexIntDate(d2);
    if (w1 < 0 || w2 < 0) return -1;
    return w2 - w1;
}

int IntPow(int base, int exp) {
    // Unsigned arithmetic wraps without undefined behaviour and keeps the low bits exact.
    std::uint64_t result = 1;
    std::uint64_t factor = static_cast<std::uint32_t>(base);
    for (; exp > 0; exp >>= 1) {
        if (exp & 1) result = (result * factor) & 0xFFFFFFFFu;
        factor = (factor * factor) & 0xFFFFFFFFu;
    }
    return static_cast<int>(static_cast<std::uint32_t>(result));
}

int ShutComputer(BYTE powerOff) {
    return RunSystemAction(powerOff != 0 ? SystemAction::Shutdown : SystemAction::Reboot) ? 0 : -3;
}

bool LockWorkStationNow() { return RunSystemAction(SystemAction::LockWorkstation); }

bool SetScreenSaveActive(bool active) {
    return RunSystemAction(active ? SystemAction::ScreenSaverOn : SystemAction::ScreenSaverOff);
}

std::string GetDBFilePath(const std::string& name) {
    const struConfig& config = g_Config.m_config;
    if (name == "userDB") return text::ToAnsi(config.userDBName);
    if (name == "defaultDB") return text::ToAnsi(config.tempDBName);
    std::string path = name;
    StrReplaceAllA(path, "%binDir%", text::ToAnsi(config.binDir));
    StrReplaceAllA(path, "%userID%", text::ToAnsi(config.UserID));
    return path;
}

std::string ConvertCodePage(const std::string& text, UINT fromCodePage, UINT toCodePage) {
    const bool fromKnown = IsAnsiCodePage(fromCodePage) || fromCodePage == kCodePageUtf8;
    const bool toKnown = IsAnsiCodePage(toCodePage) || toCodePage == kCodePageUtf8;
    if (!fromKnown || !toKnown) return text;
    const std::wstring wide = IsAnsiCodePage(fromCodePage) ? text::FromAnsi(text) : text::FromUtf8(text);
    return IsAnsiCodePage(toCodePage) ? text::ToAnsi(wide) : text::ToUtf8(wide);
}

int GetDateAddDays(int n) {
    if (g_pMyDatabase == nullptr) return -1;
    // Built by concatenation: "%Y" must never pass through a format.
    const std::wstring expr =
        L"strftime('%Y%m%d',date('now','localtime','" + std::to_wstring(n) + L" day'))";
    return g_pMyDatabase->ReadFieldValueField(L"", expr, L"", -1);
}
