// The USB-serial link: the monitor behind a USB adapter that the system sees as a HID
// device carrying a byte stream. It finds the adapter of the loaded model, sets its
// serial speed, wakes the monitor with the handshake, asks its version and profile, and
// exchanges the command frames that the download and settings procedures build.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "HidChannel.h"
#include "VepFrame.h"
#include "VepKnownAnswer.h"
#include "VepRetry.h"
#include "VepVersion.h"
#include "WinTypes.h"

class VepModel;
class VepState;

class UsbSerialLink {
public:
    static constexpr DWORD kReplyTimeout = 800;

    UsbSerialLink(VepModel& model, VepState& state);

    // Finds the adapter of the loaded model and checks the device name it reports
    // against the model's ids; the adapter is closed again. 0, 16 when no adapter is
    // found, 10 when it is not usable or its name matches none of the ids.
    int Open();
    // A job on the adapter the last open found: opens it again, asks the version, runs
    // procedure, sends the end command and closes. -1 when the last open found none.
    int RunJob(const std::function<int()>& procedure);
    bool AdapterFound() const { return adapter_ >= 0; }
    void Close() { channel_.Close(); }

    // Split from the version response: the name up to the first blank or NUL, the
    // revision after it, each at most 10 bytes.
    const std::string& DeviceName() const { return version_.name; }
    const std::string& Revision() const { return version_.revision; }

    // Sends frame (with its check byte appended when appendBcc) and reads a response of
    // length bytes: "OK" first (else 5 at once), then the rest, whose check byte is
    // tested when responseBcc (else 6).
    int Command(VepFrame frame, bool appendBcc, VepResponse& response, std::size_t length, bool responseBcc,
                DWORD milliseconds = kReplyTimeout);
    // Sends frame as given and reads "OK", then with a unit a length byte L at byte 3
    // and L x unit + 1 bytes, else the rest of expected bytes. No check byte is tested.
    // A length that would overrun the response buffer gives oversize.
    int VariableCommand(const VepFrame& frame, VepResponse& response, std::size_t expected, int unit, int oversize = 5,
                        DWORD milliseconds = kReplyTimeout);
    // Tries exchange by plan; 0 at its first success, else the last attempt's code. An
    // attempt after one that timed out or came broken first waits out that answer, and
    // so does a success after one: what comes is dropped until quietMs (the exchange's
    // own wait) bring nothing.
    int Retry(const VepRetryPlan& plan, const std::function<int()>& exchange, DWORD quietMs = kReplyTimeout);
    // Puts the link in step: "VER00" again, whose answer is the one the job's version
    // query got and unlike any reading's, every byte before that answer dropped (into
    // dropped, kept ones first). False (traced) when it does not come within the reply
    // time-out twice over or behind more than a few answers' bytes.
    bool Prove(std::vector<BYTE>& dropped);
    // Whether length bytes are an answer with its check byte: "OK" first.
    static bool WellFormed(const VepResponse& answer, std::size_t length);
    // Zero bytes that wake the monitor, answered "OK"; 0, or 5 after the last attempt.
    int Handshake();
    // "END" 0xFF 0xFF, answered "OK".
    int EndCommand();
    // A fixed pause of the protocol, through the platform's pause hook.
    void Pause(DWORD milliseconds);

private:
    int FindAdapter(int vendorId, int productId);
    int OpenAdapter(int index, int vendorId, int productId);
    int VersionQuery();
    int SetSpeed();
    int SendFrame(const VepFrame& frame);
    int ReadOk(VepResponse& response, DWORD milliseconds);

    VepModel& model_;
    VepState& state_;
    HidChannel channel_;
    int adapter_ = -1;  // the adapter's index in the device list, from the last open
    VepVersion version_;
    VepKnownAnswer versionAnswer_;
};
