#include "PedoSettings.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "PedoBcd.h"

namespace {

// Step length in cm, weight in kg, days, steps over those days.
constexpr int kStepMin = 0, kStepMax = 300, kStepDefault = 80;
constexpr int kWeightMin = 10, kWeightMax = 500, kWeightDefault = 60;
constexpr int kDaysMin = 1, kDaysMax = 500, kDaysDefault = 1;
constexpr int kStepsMin = 1, kStepsMax = 5000000, kStepsDefault = 10000;
// The block holds five digits of the step figure and three of the weight.
constexpr int kDailyStepsLimit = 99999;
constexpr int kWeightLimit = 999;
constexpr double kInchPerCm = 0.3937;
constexpr double kPoundPerKg = 2.2;
// Far outside every range, so the arithmetic below cannot overflow.
constexpr long long kNumberLimit = 1000000000000LL;

// Field n (1-based) between '|' separators, trimmed; nothing when the text has fewer fields.
std::optional<std::string> Field(const std::string& text, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const std::size_t bar = text.find('|', start);
        if (bar == std::string::npos) return std::nullopt;
        start = bar + 1;
    }
    std::string field = text.substr(start, text.find('|', start) - start);
    const std::size_t first = field.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = field.find_last_not_of(" \t\r\n");
    return field.substr(first, last - first + 1);
}

std::optional<long long> Number(const std::optional<std::string>& field) {
    if (!field || field->empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(field->c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > kNumberLimit || value < -kNumberLimit) return std::nullopt;
    return value;
}

int InRange(std::optional<long long> value, int low, int high, int fallback) {
    return value && *value >= low && *value <= high ? static_cast<int>(*value) : fallback;
}

int Rounded(double value) { return static_cast<int>(value + 0.5); }

}  // namespace

PedoOptions ParsePedoOptions(const char* text, bool metric) {
    const std::string options = text != nullptr ? text : "";
    PedoOptions result;
    result.stepLength = InRange(Number(Field(options, 1)), kStepMin, kStepMax, kStepDefault);
    const auto tenths = Number(Field(options, 2));
    result.weight = InRange(tenths ? std::optional<long long>((*tenths + 5) / 10) : std::nullopt, kWeightMin,
                            kWeightMax, kWeightDefault);
    const int days = InRange(Number(Field(options, 3)), kDaysMin, kDaysMax, kDaysDefault);
    result.dailySteps = InRange(Number(Field(options, 4)), kStepsMin, kStepsMax, kStepsDefault) / days;
    if (!metric) {
        result.stepLength = Rounded(result.stepLength * kInchPerCm);
        result.weight = Rounded(result.weight * kPoundPerKg);
    }
    // More digits than the block holds would be written cut, as a different number.
    if (result.dailySteps > kDailyStepsLimit) result.dailySteps = kDailyStepsLimit;
    if (result.weight > kWeightLimit) result.weight = kWeightLimit;
    return result;
}

std::array<BYTE, kPedoSettingsSize> BuildSettingsBlock(const PedoOptions& options, bool metric, const BYTE* raw,
                                                       int hour, int minute) {
    using pedo::DigitAt;
    using pedo::HighDigit;
    using pedo::LowDigit;
    using pedo::Nibbles;
    const int step = options.stepLength;
    const int weight = options.weight;
    const int daily = options.dailySteps;
    return {
        Nibbles(metric ? 1 : 0, LowDigit(raw[0])),
        Nibbles(DigitAt(step, 0), LowDigit(raw[1])),
        Nibbles(DigitAt(step, 2), DigitAt(step, 1)),
        Nibbles(DigitAt(weight, 1), DigitAt(weight, 0)),
        Nibbles(DigitAt(daily, 0), DigitAt(weight, 2)),
        Nibbles(DigitAt(daily, 2), DigitAt(daily, 1)),
        Nibbles(DigitAt(daily, 4), DigitAt(daily, 3)),
        Nibbles(DigitAt(hour, 0), LowDigit(raw[7])),
        Nibbles(DigitAt(minute, 0), DigitAt(hour, 1)),
        Nibbles(HighDigit(raw[9]), DigitAt(minute, 1)),
    };
}
