// Calendar dates as plain integers (yyyymmdd), times of day as hhmm, date-time texts,
// differences between dates in several units, a few machine actions and small text
// conversions. No state of their own; safe from any thread. "Now" is the local time
// read through GetLocalTime, so tests can fix the clock.
#pragma once

#include <string>

#include "WinTypes.h"

// True when the text has fewer than 1025 characters, all '0' to '9' (an empty text too).
// A null text is false.
bool IsDigitString(const char* text);

// Days since 2000-01-01 (that day is 0) for the years 2000 to 2099, where every fourth
// year is a leap year. -1 for any other year or an impossible month or day.
int DayCountFrom2000(const SYSTEMTIME& st);
// The day count carried on into hours, minutes and seconds (the time fields are added as
// they stand). -1 when the day count is -1 or the count does not fit a signed 32-bit int;
// the second count therefore ends at 2068-01-19 03:14:07.
int HourCountFrom2000(const SYSTEMTIME& st);
int MinuteCountFrom2000(const SYSTEMTIME& st);
int SecondCountFrom2000(const SYSTEMTIME& st);

// Parses exactly "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or "yyyy-mm-dd hh:mm:ss.mmm" with
// years 1900 to 2099 (every fourth year a leap year). 1 with *out filled (fields the
// shape lacks are 0), or 0 with *out left in no defined state.
int StrToSystemTime(const char* text, SYSTEMTIME* out);
// "yyyy-mm-dd hh:mm:ss.mmm" of the seven fields.
std::wstring SystemTimeToStr(const SYSTEMTIME& st);
std::wstring GetCurTimeStr();
// The local time to the second, "%d-%02d-%02d %02d:%02d:%02d" (what the function-use
// counters keep and compare with).
std::wstring GetCurTimeStrSeconds();

// unit: "day"/"dd", "hour"/"hh", "minute"/"mm", "second"/"ss" (case-sensitive).
// 1 with *out = count(newer) - count(older); 0 for an unknown unit (out untouched) or
// when either count is -1.
int DateDiffBySystemTime(const char* unit, const SYSTEMTIME& older, const SYSTEMTIME& newer, int* out);

constexpr int kDateDiffBadOlder = -99999999;
constexpr int kDateDiffBadNewer = -99999998;
constexpr int kDateDiffFailed = -99999997;
// DateDiffBySystemTime on two date-time texts. A text that does not parse, or is longer
// than 79 characters in the system code page, gives kDateDiffBadOlder / kDateDiffBadNewer;
// a failing difference gives kDateDiffFailed.
int DateDiff(const std::wstring& unit, const std::wstring& older, const std::wstring& newer);

int GetCurDate();       // yyyymmdd
int GetCurYear();
int GetCurMonth();      // 1 to 12
int GetCurDay();        // 1 to 31
int GetWeekDay();       // Monday 1 to Sunday 7
int GetCurTimeHHMM();   // hour * 100 + minute

// (minutes(a) + minutes(b)) % 1440 as hhmm, minutes(t) = t / 100 * 60 + t % 100.
// A negative total keeps its sign (0 plus -30 is -30).
int AddTimeHHMM(int a, int b);
// Whole years from birth to at; one less while the birthday of that year is still ahead.
int GetAgeByDate(int birth, int at);

// Units of IntDateDiff.
constexpr int kIntDateYears = 1;
constexpr int kIntDateMonths = 2;
constexpr int kIntDateDays = 3;
constexpr int kIntDateWeeks = 4;
// The difference from d1 to d2 in the unit. -1 for an unknown unit and whenever either
// date is impossible (year below 1, month outside 1 to 12, day outside the month).
int IntDateDiff(int d1, int d2, int unit);
// Months from d1 to d2: m2 - m1 within one year, 0 when d2's year is earlier, and
// (y2 - y1) * 12 + m2 - m1 + 1 across years (one more than the calendar count, which
// callers rely on). Days are ignored and nothing is validated.
int MonthDiffIntDate(int d1, int d2);
// Calendar days from d1 to d2, unaffected by daylight-saving changes; -1 for an
// impossible date.
int DayDiffIntDate(int d1, int d2);
// Weeks run Sunday to Saturday, counted from Monday 1979-01-01: 1979-01-01..06 and every
// earlier date are week 1, and each Sunday starts the next. -1 for an impossible date.
int WeekIndexIntDate(int date);
// WeekIndexIntDate(d2) - WeekIndexIntDate(d1); -1 for an impossible date.
int WeekDiffIntDate(int d1, int d2);

// base to the power exp, 1 when exp <= 0. The result is the low 32 bits of the exact
// power, as 32-bit multiplication wraps.
int IntPow(int base, int exp);

// Today's local date plus n days (negative for past days) as yyyymmdd, evaluated by
// the database engine on the user database; -1 when it cannot be read.
int GetDateAddDays(int n);

// Shuts the machine down (powerOff non-zero) or restarts it (0). 0, or -3 when the
// action is refused.
int ShutComputer(BYTE powerOff);
bool LockWorkStationNow();
// Only allows or forbids the screen saver; a running one is neither started nor stopped.
bool SetScreenSaveActive(bool active);

// "userDB" and "defaultDB" name the user's and the default database; any other name has
// "%binDir%" and then "%userID%" replaced. The result is in the system code page.
std::string GetDBFilePath(const std::string& name);

constexpr UINT kCodePageAnsi = 0;
constexpr UINT kCodePageGbk = 936;
constexpr UINT kCodePageUtf8 = 65001;
// Converts between UTF-8 and the system code page (0 or 936, GBK). With any other code
// page on either side the text comes back unchanged.
std::string ConvertCodePage(const std::string& text, UINT fromCodePage, UINT toCodePage);
