// Reads back what the process-wide logger wrote, for tests that check a log line.
#pragma once

#include <string>

// Writes out the logger's queue, then counts the lines of today's log file that
// contain needle. The file is shared by every test process: make needle unique.
int CountLogLines(const std::wstring& needle);
