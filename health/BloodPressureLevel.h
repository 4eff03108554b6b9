// Blood-pressure levels (0..6) and time-of-day bands (1..3), and their names as the
// charts print them: narrow text in the system code page (GBK).
#pragma once

#include <string>

// 1 normal, 2 high normal, 3..5 hypertension grades 1..3, 6 isolated systolic; 0 when
// either value is not a measurement (0 or below) or fits no grade.
int GetBloodPressureLevel(int systolic, int diastolic);
// By the hour of the reading: 4..9 morning (1), 10..18 daytime (2), anything else night (3).
int GetBloodPressureBand(int hour);
// "" for a band or level outside the ranges above; each name converted once.
const std::string& GetBloodPressureBandName(int band);
const std::string& GetBloodPressureLevelName(int level);
