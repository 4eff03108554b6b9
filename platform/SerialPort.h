// The COM ports COM1..COM8 over termios. A port number names a tty path in the
// serialPorts hook (QUORV_COMPORTS, else /dev/ttyS(n-1)); a port is opened for this
// process alone, set up raw at a fixed speed, and read with the inter-byte and total
// time-outs a Windows serial port has.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "WinTypes.h"

// Read and write limits in milliseconds: a read of n bytes ends after
// readTotalPerByte x n + readTotalConstant, or when readInterval passes between two
// bytes once the first came; a write of n bytes gets writeTotalPerByte x n +
// writeTotalConstant.
struct SerialTimeouts {
    DWORD readInterval = 0;
    DWORD readTotalPerByte = 0;
    DWORD readTotalConstant = 0;
    DWORD writeTotalPerByte = 0;
    DWORD writeTotalConstant = 0;
};

// A line as its termios shows it.
struct SerialLineSettings {
    unsigned baud = 0;
    int dataBits = 0;
    char parity = 'N';  // N, E, O, M (mark) or S (space)
    int stopBits = 1;
    bool raw = false;          // no line editing, echo, signals or output processing
    bool flowControl = false;  // RTS/CTS or XON/XOFF on
};

class SerialPort {
public:
    static constexpr int kPorts = 8;
    using PortTable = std::array<std::string, kPorts>;

    // The table from "COM3=/dev/pts/7,COM4=/dev/ttyUSB0" (names in any case): ports it
    // does not name have no path. An entry with another name, a number outside 1..8 or
    // an empty path is skipped with a line on standard error. Null: /dev/ttyS(n-1).
    static PortTable TableFrom(const char* text);
    // The settings of the terminal open on fd; for a pseudo-terminal's master, those of
    // its slave. None when fd is no terminal.
    static std::optional<SerialLineSettings> LineSettingsOf(int fd);
    // The line Setup gives for the codes, as its termios reads back: a pseudo-terminal
    // keeps no parity to show it.
    static SerialLineSettings SettingsFor(int parityCode, int stopCode);

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // COMn (1..8) by the serialPorts hook. false when the number has no path, the path
    // cannot be opened, or another holder has the port.
    bool Open(int number);
    bool OpenPath(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // The port is a terminal; a legacy /dev/ttyS* port also has a UART (its type under
    // the sysfs root is not 0), so ports without hardware are not probed.
    bool HasProperties() const;
    // Raw 9600 baud, 8 data bits, no flow control, receiver on, DTR set and RTS cleared.
    // Parity codes: 2 even, 3 odd, 4 mark, 5 space (checked on input), anything else
    // none. Stop codes: 2 and 3 two stop bits (1.5 has no termios setting), else one.
    bool Setup(int parityCode, int stopCode);
    void SetTimeouts(const SerialTimeouts& timeouts) { timeouts_ = timeouts; }

    // The bytes written within the write limit; -1 on an error.
    int Write(const BYTE* bytes, std::size_t length);
    // Up to length bytes within the read limits: how many came (0: none in time), -1
    // when the port failed or was hung up.
    int Read(BYTE* out, std::size_t length);
    // Drops what has arrived and not been read. Output already written is kept: it is
    // the command the monitor must still receive.
    void PurgeInput();

private:
    bool Lock();
    bool WaitReady(short events, long long milliseconds) const;

    int fd_ = -1;
    std::string path_;
    SerialTimeouts timeouts_;
};
