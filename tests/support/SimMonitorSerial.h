// The simulated monitor's serial-port personality: how its frames are named and where
// they end on the line, and what it answers, from and into the monitor's state.
//
//   14 zero bytes          "OK"                                   (after the purge)
//   "CNT00"                OK, filler, valid BE, total BE, check   (after the purge)
//   "VER00", "SRL00"       OK, filler, 11 text bytes, check        (after the purge)
//   "MES",0,k,k,x          reading k (0 the newest), or "NO"       (after the purge)
//   "MES",0,0,0            OK, filler, the newest date at 3..8 ... (after the purge)
//   "END",FF,FF            "OK"                                    (after the purge)
//   "STAT0"                echo, the status block, check
//   "RD",0,b,"0"           echo, block b, check
//   "WR",0,b,x,16 bytes    echo, "OK" (x must be b ^ the data, else "NG")
//   "PROG",x,16 bytes      echo, the status block, check (x the data's XOR)
//   "CLEAR"                echo, the status block, check; the readings are gone
//
// The bytes after "OK" XOR to 0, the filler included; a block and its check byte XOR
// to 0. With echo-back the line has echoed every byte already, so no echo is added.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "SimMonitor.h"
#include "WinTypes.h"

class SimMonitorSerial {
public:
    static constexpr std::size_t kWakeLength = 14;

    // "HANDSHAKE" for zero bytes, "RD", "WR", "PROG", "STAT0", "CLEAR", "MES", "END",
    // else the printable start of the frame ("VER00").
    static std::string NameOf(const std::vector<BYTE>& frame);
    // The length of the frame these bytes begin with, told by its bytes; 0 while more
    // must come to tell. A run of zeros is a wake-up: kWakeLength of them, or fewer
    // ended by a command. A command has its name's length; a byte that is neither zero
    // nor printable is one stray byte. "MES",0,0,0 (the newest reading's date) begins the
    // request for reading 0 too: the byte after it tells, or the line going quiet.
    static std::size_t FrameLength(const std::vector<BYTE>& bytes, bool quiet);
    // Text commands and the wake-up are answered only after the host purged its input.
    static bool AnswersAfterPurge(const std::string& name);

    static std::vector<BYTE> Answer(SimMonitorState& state, const std::string& name, const std::vector<BYTE>& frame);
    // "OK", the filler, the date and time at 3..8, systolic, diastolic and pulse as
    // 2-byte big-endian values at 9, 11 and 13, the reading's first extra byte at 15;
    // zero-filled to the response length, whose last byte makes the XOR 0.
    static std::vector<BYTE> ReadingRecord(const SimMonitorState& state, std::size_t k);
};
