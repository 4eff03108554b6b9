#include "StorageLink.h"

#include <algorithm>
#include <vector>

#include "StorageFiles.h"
#include "UsbStorage.h"
#include "VepBytes.h"
#include "VepFileBytes.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepState.h"

namespace {
constexpr int kNotFound = 1;
constexpr int kSummaryStart = 2;  // the records follow the count
}  // namespace

StorageLink::StorageLink(VepModel& model, VepState& state) : model_(model), state_(state) {}

int StorageLink::Open() {
    const std::string id = model_.DeviceParam("model_id");
    // An empty id is contained in every name and equals every unlabelled volume.
    if (id.empty()) {
        state_.trace.Line("ums model_id empty");
        return kNotFound;
    }
    const auto names = UsbStorageFriendlyNames();
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return n.find(id) != n.npos; })) {
        state_.trace.Line("ums device not found :%s", id.c_str());
        return kNotFound;
    }
    for (const StorageVolume& volume : StorageVolumes()) {
        if (volume.label != id) continue;
        state_.trace.Line("OK %s", volume.root.c_str());
        model_.SetFilePath(volume.root);
        deviceName_ = id;
        return vep::kOk;
    }
    state_.trace.Line("ums volume not found :%s", id.c_str());
    return kNotFound;
}

const std::string& StorageLink::FileNameFor(int kind) const {
    const VepModelParams& p = model_.Params();
    return kind == 1 ? p.fileName3 : kind == 2 ? p.fileName4 : p.fileName;
}

std::size_t StorageLink::FileBoundFor(int kind) const {
    if (kind == 0) return VepRecords::FileBound(model_.Params());
    return VepRecordsFileBound(kSummaryStart, static_cast<int>(StorageFiles::kSummaryLength),
                               VepState::kSummaryCapacity);
}

int StorageLink::Download(int kind) {
    const std::string& root = model_.Params().filePath;
    const std::string path = root + FileNameFor(kind);
    std::vector<BYTE> file;
    const int read = StorageFiles::ReadDriveFile(root, FileNameFor(kind), file, FileBoundFor(kind), state_);
    if (read != vep::kOk || file.size() < 2) {
        state_.trace.Line("ums_file err :%s", path.c_str());
        return read == vep::kAborted ? read : vep::kFailed;
    }
    const int count = Le16(file.data());
    state_.trace.Line("ums_file :%s (rec:%d)", path.c_str(), count);
    state_.SetSize(count);
    if (kind == 1) StorageFiles::DecodeSummaries(file, state_.weekData);
    if (kind == 2) StorageFiles::DecodeSummaries(file, state_.monthData);
    state_.SetCount(count);
    return vep::kOk;
}
