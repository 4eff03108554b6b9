// What a serial-port monitor keeps in its sixteen-byte memory blocks and its status
// block, and how that maps onto the library's settings block.
//
//   block 0, 1, 2, 5   a length byte and patient name 1, name 2, patient ID, serial text
//   block 3            byte 9 the night-measurement flag
//   block 4            a length byte, the doctor ID, at 9..12 the entry's minute stamp
//   block 6            eight additional-measurement pairs (BCD; 0xFF: unused)
//   block 7            the basic start hour and minute at 0..1 and 14..15, four night
//                      pairs at 2..9 (BCD)
//   block 8            not used
//
//   status 0..1 0x80 0x00, 2..3 window centre (minutes, LE), 4..5 0x89 0x67, 6..7 window
//   end, 8 interval index + 3, 9 night flag, 10 the monitor's own byte, 11 8 when
//   additional measurement is on, 12..15 clock hour, minute, day, month (BCD)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "VepDate.h"
#include "WinTypes.h"

class VepSettingsBlock;

class SerialMemory {
public:
    static constexpr std::size_t kLength = 16;
    using Block = std::array<BYTE, kLength>;

    static constexpr int kNightFlagBlock = 3;
    static constexpr int kDoctorBlock = 4;
    static constexpr int kSerialTextBlock = 5;
    static constexpr std::size_t kNightFlagByte = 9;
    static constexpr std::size_t kStampByte = 9;
    static constexpr std::size_t kKeptStatusByte = 10;
    static constexpr std::size_t kClockStatusByte = 12;

    // Into the settings block: the interval, the basic window, the flags, the kept
    // byte and the clock time. Gives the clock's month and day (the year is not in it).
    static VepDateTime DecodeStatus(const BYTE* status, VepSettingsBlock& settings);
    // The status block the settings describe, with the clock at now.
    static Block EncodeStatus(const VepSettingsBlock& settings, const VepDateTime& now);
    // Clock bytes 12..15 set to now.
    static void SetStatusClock(BYTE* status, const VepDateTime& now);

    // Into the settings block; lengths are bounded by their fields (15, 15, 13, 8, 15).
    static void DecodeBlock(int number, const BYTE* data, VepSettingsBlock& settings);
    // Block number as the settings give it, on sixteen 0xFF bytes; block 4 carries stamp.
    static Block EncodeBlock(int number, const VepSettingsBlock& settings, std::uint32_t stamp);
};
