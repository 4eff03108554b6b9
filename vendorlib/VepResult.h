// The library's result codes, shared by its links and procedures: callers and the
// monitor vendor's documentation know them by number.
#pragma once

namespace vep {

constexpr int kOk = 0;
constexpr int kFailed = -1;     // no adapter, unreadable file, job not offered
constexpr int kTimedOut = 1;    // a read's time-out; also a failed clock check
constexpr int kAnsweredNo = 1;  // a serial monitor's "NO" where a command allows it
constexpr int kReadFailed = 2;  // a failed read or a bad input report
constexpr int kNoPort = 3;      // no serial port could be opened and woken
constexpr int kException = 4;   // also a serial command that went unanswered
constexpr int kNotOk = 5;       // the response did not begin with "OK"
constexpr int kBccError = 6;
constexpr int kWriteFailed = 7;  // also a failed feature report
constexpr int kFileError = 9;    // a work file could not be opened or written
constexpr int kNotUsable = 10;   // adapter not usable, or the device name does not match
constexpr int kAborted = 11;
constexpr int kClockNotSet = 14;
constexpr int kNoAdapter = 16;

}  // namespace vep
