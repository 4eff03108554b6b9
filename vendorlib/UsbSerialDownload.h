// The download procedures of the USB-serial link: the readings of download types 1,
// 2 (the walking device) and 3/4 into "down.dat" or "down2.dat" (of types 1, 3 and 4
// only the newest the reading store keeps), and the weekly summaries into "week.dat"
// with their decoding into the weekly store. Each keeps the download size and count up
// to date and runs on the job thread.
#pragma once

#include <cstddef>
#include <functional>

#include "VepFrame.h"
#include "WinTypes.h"

class UsbSerialLink;
class VepModel;
class VepState;
class VepWorkFile;

class UsbSerialDownload {
public:
    static constexpr const char* kReadingsFile = "down.dat";
    static constexpr const char* kWalkingFile = "down2.dat";
    static constexpr const char* kWeekFile = "week.dat";

    UsbSerialDownload(UsbSerialLink& link, VepModel& model, VepState& state);

    // The download job of kind 0 (readings), 1 (weekly summaries) or 2 (monthly: not
    // offered here, nothing runs) on the adapter of the last open.
    int Run(int kind);
    // Reads "week.dat" into the weekly store; 0, or -1 when it is missing or empty.
    int DecodeWeekly();

private:
    int Procedure(int kind);
    int Readings();
    int TypeOne(VepWorkFile& file);
    int TypeTwo(VepWorkFile& file);
    int TypeThree(VepWorkFile& file);
    int Weekly(VepWorkFile& file);

    // "PRF00" into profile_ and the device information; a monitor without a profile
    // answers "NO", which noProfileOk accepts.
    int Profile(bool noProfileOk);
    int ReadCounts(VepResponse& counts);
    int SerialNumber();
    int ClockCheck(int user);
    int DataCount(int user, int& serial, int& count);
    int WriteHeader(VepWorkFile& file, int count, int second, int serial);
    // The readings from index n-1 down to 0, each fetched (again, once the link is in
    // step, when its answer is a reading taken before or out of order), written at the
    // record length and counted; the failing index is traced as "GetData :%d". With
    // `abortable` an abort between readings ends the download (11).
    int FetchReadings(VepWorkFile& file, int n, bool abortable,
                      const std::function<int(int index, VepResponse& record)>& fetch);
    int WriteRecord(VepWorkFile& file, const VepResponse& response, std::size_t length);

    UsbSerialLink& link_;
    VepModel& model_;
    VepState& state_;
    VepResponse profile_{};
};
