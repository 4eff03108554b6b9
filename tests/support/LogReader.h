// Reads back what a logger wrote, for tests that check a log line.
#pragma once

#include <filesystem>
#include <string>
#include <type_traits>

// Writes out the logger's queue, then counts the lines of today's log file that
// contain needle. The file is shared by every test process: make needle unique.
int CountLogLines(const std::wstring& needle);

// Everything logged by a program run in folder: its Log/ files in date order, decoded.
std::wstring ReadProgramLog(const std::filesystem::path& folder);

// The number of times needle occurs in text, narrow or wide; an empty needle counts
// nothing (it would be found at every position, for ever).
template <class Char>
int CountOf(const std::basic_string<Char>& text, const std::type_identity_t<std::basic_string<Char>>& needle) {
    if (needle.empty()) return 0;
    int count = 0;
    for (auto pos = text.find(needle); pos != std::basic_string<Char>::npos; pos = text.find(needle, pos + needle.size()))
        ++count;
    return count;
}
