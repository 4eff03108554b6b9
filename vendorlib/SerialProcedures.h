// The procedures a job runs on a serial-port monitor that the link opened and woke:
// the readings download into "down.dat", the settings read (into the settings block
// and "info.dat") and write, the clock setting and the memory clear. Every command is
// tried three times, 100 ms apart; a procedure ends at the first command that fails
// all three with that command's code, and keeps the download size and count up to
// date.
//
// The full settings write ends with the memory clear, so writing the settings erases
// the monitor's readings: download them first.
#pragma once

#include <functional>

#include "VepDate.h"
#include "VepFrame.h"
#include "WinTypes.h"

class SerialLink;
class VepModel;
class VepState;
class VepWorkFile;

class SerialProcedures {
public:
    static constexpr const char* kReadingsFile = "down.dat";
    static constexpr const char* kInfoFile = "info.dat";

    SerialProcedures(SerialLink& link, VepModel& model, VepState& state);

    // The readings (the newest the store keeps), then the end command and the port
    // closed. With download-mode bits 2 and 4 the clock is set, with bit 4 the memory
    // cleared afterwards.
    int ReadingsJob();
    // Download mode 1: the short read, else the full read; the port stays open.
    int InfoReadJob();
    // Download mode 0: the full write, 1 the night flag, else the serial text; then the
    // end command and the port closed.
    int InfoWriteJob();
    // The memory clear; the port stays open.
    int ClearJob();

    int ClockSetting();
    int MemoryClear();

private:
    int Guarded(const std::function<int()>& procedure);
    int Readings(VepWorkFile& file);
    int ReadReading(int number, VepResponse& reading);
    bool Plausible(const VepResponse& reading) const;
    int ReadCounts(int& valid, int& total);
    int FullRead(VepWorkFile& file);
    int ShortRead();
    int ReadNewest();
    int ReadStatus(VepResponse& status);
    int ReadRaw(int number, VepResponse& response);
    int ReadBlock(int number, VepWorkFile* file, VepResponse& response);
    int FullWrite();
    int NightFlagWrite();
    int SerialTextWrite();
    int WriteBlock(int number, const BYTE* data);
    int WriteStatus(const BYTE* status);
    void Step();

    SerialLink& link_;
    VepModel& model_;
    VepState& state_;
};
