#include "BloodPressureLevel.h"

#include "Text.h"

namespace {

bool Within(int value, int low, int high) { return value >= low && value <= high; }

// Graded in order, so a pair across two grades takes the lower one.
int GradeOf(int s, int d) {
    if (s < 120 && d < 80) return 1;
    if (Within(s, 120, 139) || Within(d, 80, 89)) return 2;
    if (Within(s, 140, 159) || Within(d, 90, 99)) return 3;
    if (Within(s, 160, 179) || Within(d, 100, 109)) return 4;
    if (s >= 180 || d >= 110) return 5;
    return 0;
}

}  // namespace

int GetBloodPressureLevel(int systolic, int diastolic) {
    // A memo or empty reading (0/0) would otherwise be graded normal.
    if (systolic <= 0 || diastolic <= 0) return 0;
    if (systolic >= 140 && diastolic < 90) return 6;
    return GradeOf(systolic, diastolic);
}

int GetBloodPressureBand(int hour) {
    if (Within(hour, 4, 9)) return 1;
    if (Within(hour, 10, 18)) return 2;
    return 3;
}

const std::string& GetBloodPressureBandName(int band) {
    static const std::string kNames[] = {"", text::ToAnsi(L"清晨"), text::ToAnsi(L"白天"), text::ToAnsi(L"夜间")};
    return kNames[Within(band, 1, 3) ? band : 0];
}

const std::string& GetBloodPressureLevelName(int level) {
    static const std::string kNames[] = {"",
                                         text::ToAnsi(L"正常血压"),
                                         text::ToAnsi(L"正常高值血压"),
                                         text::ToAnsi(L"1级高血压（轻度）"),
                                         text::ToAnsi(L"2级高血压（中度）"),
                                         text::ToAnsi(L"3级高血压（重度）"),
                                         text::ToAnsi(L"单纯收缩期高血压")};
    return kNames[Within(level, 1, 6) ? level : 0];
}
