// The monitor's answer to "VER00", as every link reads it: the device name and the
// revision, and whether the name is one the loaded model expects.
#pragma once

#include <cstddef>
#include <string>

#include "WinTypes.h"

class VepModel;

struct VepVersion {
    static constexpr std::size_t kTextOffset = 3;  // of the answer
    static constexpr std::size_t kTextLength = 11;

    std::string name;
    std::string revision;

    // From the answer's text bytes: the name up to the first blank or NUL, at most 10
    // bytes; the revision after one separator, at most 10, trailing blanks dropped.
    static VepVersion Split(const BYTE* answer);
    // The name equals one of the model's non-empty "model_id", "model_id2", "model_id3".
    bool MatchesModel(const VepModel& model) const;
};
