// The serial-port link: the monitor on one of COM1..COM8. It lists the ports that can
// be opened, sets the line up, wakes the monitor with zero bytes, asks its version and
// serial number, and exchanges the command forms the serial procedures use. The link
// adds no check byte: a frame carries its own where it has one, and the bytes of a
// response after "OK" XOR to 0.
//
// Reads go one byte at a time; an empty read stands for the byte 0xCF, which the
// monitor never sends. Between reads the calling thread's window messages are served.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "SerialPort.h"
#include "VepFrame.h"
#include "VepKnownAnswer.h"
#include "VepRetry.h"
#include "VepVersion.h"
#include "WinTypes.h"

class VepModel;
class VepState;

class SerialLink {
public:
    static constexpr int kOkReads = 20;
    static constexpr int kReadingOkReads = 80;  // the reading request's wait for "OK"
    static constexpr std::size_t kBlockLength = 16;
    static constexpr std::size_t kBlockResponse = kBlockLength + 1;  // and its check byte

    SerialLink(VepModel& model, VepState& state);

    // The port set in the state (any number but 0), else COM1..COM8, each opened for
    // this process alone and closed again; the number of ports whose properties read.
    int SearchPorts();
    // Finds, sets up and wakes the monitor, then asks "VER00" (its name must be one of
    // the model's ids) and "SRL00"; the port stays open. 0; 3 no port could be opened
    // and set up; 4 the monitor did not wake, or 4 or 6 a failed command; 10 another
    // device; 11 aborted during a wake-up.
    int Open();
    // The end command when the monitor is awake, and the port closed.
    void End();
    void Close();
    bool Awake() const { return awake_; }

    // Each byte written is read back before the next (a line that echoes); off by default.
    void SetEchoBack(bool on) { echoBack_ = on; }
    const std::string& DeviceName() const { return version_.name; }
    const std::string& Revision() const { return version_.revision; }

    // A text command: "OK" within okReads reads ("NO" or nothing: 4), then the rest of
    // expected bytes within 20 reads (else 4), whose bytes after "OK" XOR to 0 (else 6).
    int Text(const VepFrame& frame, VepResponse& response, std::size_t expected, int okReads = kOkReads);
    // The second form: "NO" gives 1; an empty read is kept as 0xCF; at most 15 bytes
    // follow "OK".
    int TextSecond(const VepFrame& frame, VepResponse& response, std::size_t expected, int okReads);
    // The bytes of the second form's answer on the line, "OK" included.
    static std::size_t SecondAnswerLength(std::size_t expected);
    // Whether length bytes are an answer of the line: "OK", then bytes that XOR to 0.
    static bool WellFormed(const VepResponse& answer, std::size_t length);
    // Whether a second-form answer of length bytes is no reading: it begins with the
    // proof's answer, or an empty read stands in it (it came short, pairs of the fill
    // cancelling in its check).
    bool NoReading(const VepResponse& answer, std::size_t length) const;
    // "STAT0", or block's read: the echo, then 16 bytes and their check byte (the 17
    // XOR to 0) at the start of response.
    int Status(VepResponse& response);
    int ReadBlock(int block, VepResponse& response);
    // "WR": the block echoed, then "OK" within 50 reads; 0, else 1.
    int WriteBlock(int block, const BYTE* data);
    // "PROG" with the 16-byte status block: echoed, then 17 bytes, not checked.
    int WriteStatus(const BYTE* status);
    // "CLEAR": echoed, a 3000 ms pause, then 17 bytes, not checked.
    int Clear();
    // "END" 0xFF 0xFF, a text command answered "OK".
    int EndCommand();

    // exchange up to 3 times, 100 ms between the attempts; with abortTest an abort
    // seen before an attempt ends with 11. An attempt after one that went unanswered or
    // came broken waits for the line to be quiet for okReads reads, the exchange's own
    // wait for "OK".
    int Retry(const std::function<int()>& exchange, bool abortTest = false, int okReads = kOkReads);

    // Drops what comes unasked until emptyReads reads in a row bring nothing; false
    // (traced) when the line does not go quiet within kMostUnasked bytes. Every command
    // is sent after one empty read: an answer that came twice is not taken for the next.
    bool LetQuiet(int emptyReads);
    static constexpr std::size_t kMostUnasked = 128;
    // Puts the line in step: "VER00" again, whose answer is the one the open got and
    // unlike any reading's, everything before that answer dropped (into dropped). False
    // (traced) when it does not come within the reading's wait or behind more than
    // kMostUnasked bytes.
    bool Prove(std::vector<BYTE>& dropped);

private:
    enum class Wait { Ok, No, Nothing, Aborted };

    int OpenListed();
    bool CheckPort(int number);
    int WakeUp();
    int DeviceQuery(const char* command, const char* failure, VepResponse& response);

    bool Send(const VepFrame& frame, bool echoBack);
    bool Write(const VepFrame& frame, bool echoBack);
    bool ReadEcho(std::size_t length, int reads);
    Wait WaitOk(int reads, bool abortable = false);
    bool ReadBytes(BYTE* out, std::size_t length, int reads, bool keepEmpty);
    int Echoed(const VepFrame& frame, VepResponse& response, bool checked);
    // One byte, or -1 when none came within the read time-outs.
    int ReadByte();

    VepModel& model_;
    VepState& state_;
    SerialPort port_;
    std::vector<int> ports_;
    bool awake_ = false;
    bool echoBack_ = false;
    VepVersion version_;
    VepKnownAnswer versionAnswer_;
};
