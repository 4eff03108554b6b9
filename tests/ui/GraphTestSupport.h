// What the chart tests share: page arguments written as JSON, and golden documents
// written as wide text and compared as the GBK bytes a writer prints.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "Text.h"
#include "Value.h"

inline uie::value Json(std::wstring_view json) {
    std::wstring error;
    const auto parsed = uie::value::from_json(json, &error);
    EXPECT_TRUE(parsed.has_value()) << text::ToUtf8(error);
    return parsed.value_or(uie::value());
}

inline std::string Gbk(std::wstring_view golden) { return text::ToAnsi(golden); }
