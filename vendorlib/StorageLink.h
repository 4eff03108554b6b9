// The USB-storage link: the monitor appears as a mass-storage volume, so nothing is
// said to it. The open finds the device by the model's "model_id" in its friendly name
// and the volume labelled with the same id; the jobs read (and the settings write
// rewrites) the monitor's files on that volume.
#pragma once

#include <cstddef>
#include <string>

class VepModel;
class VepState;

class StorageLink {
public:
    StorageLink(VepModel& model, VepState& state);

    // 0 with the volume's root as the model's file path; 1 when the model id is empty,
    // or no device or no volume carries it.
    int Open();
    // Kind 0 readings, 1 weekly, 2 monthly summaries: the file's record count becomes
    // the download size, and summaries fill their store. 0; -1 when the file is missing,
    // empty, unreadable, no regular file or larger than a full store's records; 11 when
    // an abort ended the read.
    int Download(int kind);

    const std::string& DeviceName() const { return deviceName_; }

private:
    const std::string& FileNameFor(int kind) const;
    std::size_t FileBoundFor(int kind) const;

    VepModel& model_;
    VepState& state_;
    std::string deviceName_;
};
