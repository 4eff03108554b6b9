// A monitor model as the model file describes it: the list of models, and one model's
// parameters loaded for the link and the decoding of its records. The files are
// "System/bpmdl.vpx" (blood-pressure monitors) and "System/npmdl.vpx" (walking-data
// devices) in the current folder:
//
//   <model name="X" connect="USB-SERIAL" hide="0">
//     <param name="ofs_sys" value="9" size="2" start_bit="0" bit_len="0" bcd="0"/>
//   </model>
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "VepField.h"

class VepState;

// The hourly lists of a walking model hold at most this many offsets.
constexpr std::size_t kVepHours = 24;

// The model-wide numbers and the field layout, built from the parameters. A parameter
// the file lacks reads 0 (a field of size 0 is absent), a text "".
struct VepModelParams {
    VepField year, month, day, hour, minute, second, unit;
    VepField systolic, diastolic, pulse, number, count, setCount, memo, moveFlag, irregularPulse;
    VepField serial, userKbn;
    VepField wpSpec, wpWeight, wpHeight, wpStride;
    VepField wdNwalk, wdNwalks, wdTwalks, wdCarorie, wdDistance, wdFatBurn, wdWeight, wdStride, wdDaySerial;
    std::vector<int> wdTmNwalk, wdTmNwalks;  // hourly byte offsets, hour 0 first

    int connectType = -1;  // 0 USB-serial, 1 USB storage, 2 serial port, -1 unknown
    int downloadType = 0;
    int dataType = 0;  // non-zero: multi-byte fields are little-endian
    int headStart = 0;
    int dataStart = 0;
    int recLength = 0;
    int memoType = 0;
    int bpkbnFlag = 0;
    int bpcntFlag = 0;
    int startYear = 0;
    int infoData = 0;
    int infoPut = 0;
    int setupMode = 0;
    int resvLength = 0;
    int resvLength2 = 0;
    int dataSerial = 0;
    int sumData = 0;
    std::string fileName, fileName2, fileName3, fileName4, filePath;
};

class VepModel {
public:
    // The model file of a library mode: 0 blood pressure, 1 walking data.
    static const char* FileFor(int libraryMode);
    // "USB-SERIAL" 0, "USB-STORAGE" 1, "SERIAL" 2, exactly; -1 otherwise.
    static int ConnectionType(const std::string& connect);

    // index < 0: names and connections of the models not hidden, each followed by ",".
    // index >= 0: the index-th model, hidden ones counted. 0, or -1 when there is no
    // such model or the file cannot be read (or is refused as the load refuses it).
    static int List(const std::string& file, int index, std::string& names, std::string& connections, VepState& state);

    // Loads the named model in place of the one loaded; 0, or -1 (traced) when the file
    // cannot be read, is larger or nested deeper than a model file, holds no such model,
    // or the model's numbers lie outside their range (lengths that do not fit the
    // library's 32-byte responses, a year offset past any calendar). A known connection
    // name becomes state's connection mode; an unknown one leaves it.
    int Load(const std::string& file, const std::string& name, VepState& state);
    void Unload();

    bool Loaded() const { return loaded_; }
    const VepModelParams& Params() const { return params_; }
    // Where the model's files lie, as its link found them (a storage volume's root).
    void SetFilePath(const std::string& path) { params_.filePath = path; }
    // The named parameter's "value" text; "" when missing.
    std::string DeviceParam(const std::string& name) const;
    // A hexadecimal parameter such as "hid_vender_id"; 0 when missing.
    int DeviceHex(const std::string& name) const;

    // The user selector of the loaded model, set by the caller or by the single-user rule.
    int UserSelector() const { return userSelector_; }
    void SetUserSelector(int user) { userSelector_ = user; }

private:
    struct Param {
        std::string value;
        int size = 0;
        int startBit = 0;
        int bitLength = 0;
        bool bcd = false;
    };

    void BuildParams();
    VepField FieldOf(const std::string& name) const;
    int NumberOf(const std::string& name) const;
    std::vector<int> HourlyOffsetsOf(const std::string& name) const;
    bool NumbersFit(VepState& state) const;

    bool loaded_ = false;
    std::string name_;
    std::map<std::string, Param> map_;
    VepModelParams params_;
    std::atomic<int> userSelector_{0};
};
