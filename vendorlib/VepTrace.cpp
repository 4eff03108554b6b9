#include "VepTrace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
constexpr const char* kTraceFile = "debug.txt";
}  // namespace

void VepTrace::Line(const char* format, ...) {
    if (!enabled_) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Append(text);
}

void VepTrace::Frame(const BYTE* frame, std::size_t length) {
    if (!enabled_) return;
    std::string text = "CMD : ";
    for (std::size_t i = 0; i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%02X ", frame[i]);
        text += hex;
    }
    Append(text.c_str());
}

void VepTrace::Append(const char* text) {
    std::lock_guard guard(lock_);
    if (std::FILE* file = std::fopen(kTraceFile, "ab")) {
        std::fputs(text, file);
        std::fputs("\n", file);
        std::fclose(file);
    }
}
