// Reads back what a logger wrote, for tests that check a log line.
#pragma once

#include <filesystem>
#include <string>

// Writes out the logger's queue, then counts the lines of today's log file that
// contain needle. The file is shared by every test process: make needle unique.
int CountLogLines(const std::wstring& needle);

// Everything logged by a program run in folder: its Log/ files in date order, decoded.
std::wstring ReadProgramLog(const std::filesystem::path& folder);

// The number of times needle occurs in text.
int CountOf(const std::wstring& text, const std::wstring& needle);
