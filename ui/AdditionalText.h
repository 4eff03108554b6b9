// A text that a server reply adds to one alert message (alertNo, no).
#pragma once

#include <string>

struct AdditionalText {
    int alertNo;
    int no;
    std::wstring text;
};
