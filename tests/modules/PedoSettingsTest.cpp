#include "PedoSettings.h"

#include <gtest/gtest.h>

#include <array>

namespace {

void ExpectOptions(const char* text, bool metric, int stepLength, int weight, int dailySteps) {
    const PedoOptions options = ParsePedoOptions(text, metric);
    EXPECT_EQ(options.stepLength, stepLength) << text;
    EXPECT_EQ(options.weight, weight) << text;
    EXPECT_EQ(options.dailySteps, dailySteps) << text;
}

TEST(PedoSettingsTest, FieldsAreReadTrimmedAndBadOnesTakeTheirDefaults) {
    ExpectOptions("80|605|1|10000|", true, 80, 61, 10000);
    ExpectOptions(" 75 |655\n| 2|9000\r\n", true, 75, 66, 4500);
    ExpectOptions("", true, 80, 60, 10000);
    ExpectOptions("0|95|", true, 0, 10, 10000);
    ExpectOptions("x|60x|-1|0|", true, 80, 60, 10000);
    ExpectOptions("301|5010|501|5000001|", true, 80, 60, 10000);
    ExpectOptions("99999999999999999999|1|1|1", true, 80, 60, 1);
}

TEST(PedoSettingsTest, ImperialDevicesGetInchesAndPoundsCutToTheDigitsSent) {
    ExpectOptions("80|600|1|10000|", false, 31, 132, 10000);
    ExpectOptions("300|5000|1|10000|", false, 118, 999, 10000);
    ExpectOptions("80|600|1|5000000|", true, 80, 60, 99999);
}

TEST(PedoSettingsTest, BlockCarriesTheOptionsTheTimeAndTheDevicesOwnNibbles) {
    std::array<BYTE, 10> raw{0x10, 0x50, 0x07, 0x65, 0x00, 0, 0, 0, 0, 0};
    EXPECT_EQ(BuildSettingsBlock(ParsePedoOptions("80|605|1|10000|", true), true, raw.data(), 14, 37),
              (std::array<BYTE, 10>{0x10, 0x00, 0x08, 0x61, 0x00, 0x00, 0x10, 0x40, 0x71, 0x03}));

    raw = {0x1F, 0x5E, 0, 0, 0, 0, 0, 0x0D, 0, 0xC0};
    EXPECT_EQ(BuildSettingsBlock({123, 456, 98765}, false, raw.data(), 9, 5),
              (std::array<BYTE, 10>{0x0F, 0x3E, 0x12, 0x56, 0x54, 0x76, 0x98, 0x9D, 0x50, 0xC0}));
}

}  // namespace
