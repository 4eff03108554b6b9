// A pseudo-terminal pair that stands in for a serial line in tests: a program opens the
// slave by its path as it would open a COM port, and the test's simulated device sits
// on the master. The slave's line settings are read through the master.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "SerialPort.h"
#include "WinTypes.h"

class SerialPortPty {
public:
    SerialPortPty();
    ~SerialPortPty();
    SerialPortPty(const SerialPortPty&) = delete;
    SerialPortPty& operator=(const SerialPortPty&) = delete;

    bool IsOpen() const { return master_ >= 0; }
    // The path to name in the COM-port table.
    const std::string& SlavePath() const { return slavePath_; }

    // What the slave side wrote: up to size bytes, waiting at most milliseconds for the
    // first. 0 when none came; -1 when the slave side was closed and nothing is left.
    int Read(BYTE* out, std::size_t size, DWORD milliseconds);
    // Sends to the slave side; false when not all of it went.
    bool Write(const BYTE* bytes, std::size_t length);
    // Whether the slave was opened and every holder has closed it again (the master
    // then reads EIO).
    bool SlaveClosed() const;
    std::optional<SerialLineSettings> LineSettings() const;

private:
    int master_ = -1;
    std::string slavePath_;
};
