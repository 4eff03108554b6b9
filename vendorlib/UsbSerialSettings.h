// The settings procedures of the USB-serial link for monitors of download types 3 and
// 4: reading the monitor's settings into the library's 220-byte block, writing them
// back, setting its clock and clearing its memory. Each step of a read or write is
// tried three times and followed by a fresh handshake; the download count rises by one
// per step.
//
// The full write ends with the memory clear, so writing the settings erases the
// monitor's readings: download them first.
#pragma once

#include <cstddef>
#include <functional>

#include "VepFrame.h"
#include "WinTypes.h"

class UsbSerialLink;
class VepModel;
class VepState;

class UsbSerialSettings {
public:
    UsbSerialSettings(UsbSerialLink& link, VepModel& model, VepState& state);

    // The jobs, on the adapter of the last open: -1 when it found none.
    int ReadJob();
    int WriteJob();
    int ClearJob();

    // "SCL" with the present local time, and "MCL00"; each tried three times.
    int ClockSetting();
    int MemoryClear();

private:
    int Read(bool full);
    int Write(bool full);
    int Step(const char* name, const std::function<int()>& exchange);

    int ReadCounts();
    int ReadNewest();
    int ReadText(const char* command, std::size_t offset, std::size_t limit);
    int ReadSerialText();
    int ReadClock();
    int ReadDoctor();
    int ReadInterval();
    int ReadPairs(const char* command, int most, std::size_t countOffset, std::size_t first, std::size_t second,
                  int& count);

    int WriteText(const char* command, std::size_t offset, std::size_t limit, std::size_t frameLength, bool atLeastOne);
    int WriteDoctor();
    int WriteBasic();
    int WritePairs(const char* command, bool on, std::size_t countOffset, int most, std::size_t first,
                   std::size_t second, std::size_t frameLength);
    int ClockExchange();
    int ClearExchange();
    int Exchange(const VepFrame& frame, VepResponse& response, std::size_t expected, int unit);
    int Exchange(const VepFrame& frame);

    UsbSerialLink& link_;
    VepModel& model_;
    VepState& state_;
    bool stepRan_ = false;
};
