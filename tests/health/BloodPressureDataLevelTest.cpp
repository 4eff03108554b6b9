// Blood-pressure levels, time-of-day bands and their GBK names.
#include <gtest/gtest.h>

#include <string>

#include "BloodPressureLevel.h"
#include "Text.h"

namespace {

struct LevelCase {
    int systolic;
    int diastolic;
    int level;
};

TEST(BloodPressureDataLevelTest, GradesTheLowerGradeExceptIsolatedSystolic) {
    const LevelCase cases[] = {
        {119, 79, 1}, {120, 70, 2}, {130, 105, 2}, {150, 85, 6}, {185, 95, 3}, {100, 112, 5},
        {139, 89, 2}, {140, 89, 6}, {119, 80, 2}, {145, 95, 3}, {165, 105, 4}, {200, 120, 5},
        {100, 95, 3}, {110, 100, 4}, {180, 90, 3},
    };
    for (const LevelCase& c : cases)
        EXPECT_EQ(GetBloodPressureLevel(c.systolic, c.diastolic), c.level) << c.systolic << "/" << c.diastolic;
}

TEST(BloodPressureDataLevelTest, NoMeasurementHasNoLevel) {
    // A memo entry or an empty reading must not pass for normal pressure.
    for (const auto& [s, d] : {std::pair{0, 0}, {0, 70}, {110, 0}, {-1, -1}, {150, 0}, {-5, 85}})
        EXPECT_EQ(GetBloodPressureLevel(s, d), 0) << s << "/" << d;
}

TEST(BloodPressureDataLevelTest, BandsFollowTheHour) {
    const std::pair<int, int> cases[] = {{3, 3}, {19, 3}, {4, 1}, {9, 1}, {10, 2}, {18, 2},
                                         {0, 3}, {23, 3}, {-1, 3}, {24, 3}, {99, 3}};
    for (const auto& [hour, band] : cases) EXPECT_EQ(GetBloodPressureBand(hour), band) << hour;
}

TEST(BloodPressureDataLevelTest, NamesAreGbkAndEmptyOutOfRange) {
    const wchar_t* const levels[] = {L"正常血压",          L"正常高值血压",      L"1级高血压（轻度）",
                                     L"2级高血压（中度）", L"3级高血压（重度）", L"单纯收缩期高血压"};
    for (int level = 1; level <= 6; ++level)
        EXPECT_EQ(text::FromAnsi(GetBloodPressureLevelName(level)), levels[level - 1]) << level;
    EXPECT_EQ(GetBloodPressureLevelName(1), "\xD5\xFD\xB3\xA3\xD1\xAA\xD1\xB9");  // GBK bytes, not UTF-8
    EXPECT_EQ(text::FromAnsi(GetBloodPressureBandName(1)), L"清晨");
    EXPECT_EQ(text::FromAnsi(GetBloodPressureBandName(2)), L"白天");
    EXPECT_EQ(text::FromAnsi(GetBloodPressureBandName(3)), L"夜间");
    for (const int outside : {0, -1, 7, 100}) EXPECT_EQ(GetBloodPressureLevelName(outside), "") << outside;
    for (const int outside : {0, -1, 4}) EXPECT_EQ(GetBloodPressureBandName(outside), "") << outside;
}

}  // namespace
