#include "VepVersion.h"

#include "VepModel.h"

namespace {

constexpr std::size_t kMaxNameLength = 10;

bool IsSeparator(BYTE b) { return b == ' ' || b == 0; }

}  // namespace

VepVersion VepVersion::Split(const BYTE* answer) {
    const BYTE* text = answer + kTextOffset;
    std::size_t nameLength = 0;
    while (nameLength < kMaxNameLength && !IsSeparator(text[nameLength])) ++nameLength;
    std::size_t at = nameLength;
    if (at < kTextLength && IsSeparator(text[at])) ++at;
    std::size_t end = at;
    while (end < kTextLength && end - at < kMaxNameLength && text[end] != 0) ++end;
    while (end > at && text[end - 1] == ' ') --end;
    VepVersion version;
    version.name.assign(reinterpret_cast<const char*>(text), nameLength);
    version.revision.assign(reinterpret_cast<const char*>(text + at), end - at);
    return version;
}

bool VepVersion::MatchesModel(const VepModel& model) const {
    for (const char* key : {"model_id", "model_id2", "model_id3"}) {
        const std::string id = model.DeviceParam(key);
        if (!id.empty() && id == name) return true;
    }
    return false;
}
