#include "VepLibrary.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>

#include "SerialLink.h"
#include "SerialProcedures.h"
#include "StorageFiles.h"
#include "StorageLink.h"
#include "UsbSerialDownload.h"
#include "UsbSerialLink.h"
#include "UsbSerialSettings.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepRetry.h"
#include "VepSpecialModels.h"
#include "VepState.h"
#include "WalkingData.h"

namespace {

constexpr int kNoConnection = -1;
constexpr DWORD kStartPause = 100;
constexpr std::size_t kIdField = 11;
constexpr std::array<const char*, 4> kWorkFiles{"down.dat", "down2.dat", "week.dat", "info.dat"};

void CopyText(char* out, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

struct VepLibrary::Session {
    VepState state;
    VepModel model;
    UsbSerialLink usb{model, state};
    SerialLink serial{model, state};
    StorageLink storage{model, state};
    WalkingData walking;
    int opened = kNoConnection;  // the connection type of the open device
    // -1 after a refused selection: no other summary is handed out in its place.
    int weekSelected = 0;
    int monthSelected = 0;
    int lastDataSerial = 0;
};

VepLibrary& VepLibrary::Instance() {
    static VepLibrary library;
    return library;
}

VepLibrary::VepLibrary() = default;

VepLibrary::~VepLibrary() { StopJob(); }

void VepLibrary::StopJob() {
    if (!job_.joinable()) return;
    if (session_) session_->state.abort = true;
    job_.join();
}

int VepLibrary::Init(int mode) {
    std::lock_guard guard(lock_);
    StopJob();
    auto session = std::make_unique<Session>();
    session->state.libraryMode = mode;
    session->state.trace.SetEnabled(debug_);
    std::lock_guard swap(sessionLock_);
    session_ = std::move(session);
    return vep::kOk;
}

int VepLibrary::End() {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    StopJob();
    Session& s = *session_;
    if (s.opened == 0) s.usb.Close();
    if (s.opened == 2) s.serial.Close();
    s.model.Unload();
    for (const char* file : kWorkFiles) std::remove(file);
    std::lock_guard swap(sessionLock_);
    session_.reset();
    return vep::kOk;
}

int VepLibrary::Abort() {
    std::lock_guard swap(sessionLock_);
    if (!session_) return vep::kFailed;
    session_->state.abort = true;
    return vep::kOk;
}

int VepLibrary::GetDeviceList(int mode, char* models, char* connections) {
    std::lock_guard guard(lock_);
    if (!session_ || models == nullptr || connections == nullptr) return Refused(__func__);
    std::string names, connects;
    VepModel::List(VepModel::FileFor(mode), -1, names, connects, session_->state);
    CopyText(models, kListSize, names);
    CopyText(connections, kListSize, connects);
    return vep::kOk;
}

// A running job reads the loaded model: it is not replaced under it.
int VepLibrary::SetConnectDeviceName(const char* model) {
    std::lock_guard guard(lock_);
    Session* idle = Idle();
    if (idle == nullptr || model == nullptr) return Refused(__func__);
    Session& s = *idle;
    s.state.modelName.fill(0);
    const std::size_t n = strnlen(model, s.state.modelName.size() - 1);
    std::memcpy(s.state.modelName.data(), model, n);
    return s.model.Load(VepModel::FileFor(s.state.libraryMode), std::string(model, n), s.state);
}

int VepLibrary::GetConnectDeviceName(char* model) {
    std::lock_guard guard(lock_);
    if (!session_ || model == nullptr) return Refused(__func__);
    std::memcpy(model, session_->state.modelName.data(), session_->state.modelName.size());
    return vep::kOk;
}

int VepLibrary::SetConnectMode(int mode) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    session_->state.connectMode = mode;
    return vep::kOk;
}

int VepLibrary::GetConnectMode() {
    std::lock_guard guard(lock_);
    return session_ ? session_->state.connectMode.load() : vep::kFailed;
}

int VepLibrary::OpenDevice() {
    std::lock_guard guard(lock_);
    Session* idle = Idle();
    if (idle == nullptr) return Refused(__func__);
    Session& s = *idle;
    // Until this open succeeds, no device is there for a job.
    s.opened = kNoConnection;
    const char* file = VepModel::FileFor(s.state.libraryMode);
    if (s.state.libraryMode == 1) return Search(s, file, true);
    if (s.state.modelName[0] == '\0') return Search(s, file, false);
    if (!s.model.Loaded()) return Refused(__func__);
    return OpenByType(s, file);
}

int VepLibrary::Search(Session& s, const char* file, bool walking) {
    if (!walking) s.state.trace.Line("Device Search Mode");
    int result = vep::kFailed;
    for (int index = 0;; ++index) {
        if (!walking && s.state.TakeAbort()) {
            result = vep::kAborted;
            break;
        }
        std::string name, connect;
        if (VepModel::List(file, index, name, connect, s.state) != 0) break;
        if (s.model.Load(file, name, s.state) != 0) {
            result = vep::kFailed;
            continue;
        }
        result = walking ? s.usb.Open() : OpenByType(s, file);
        if (result == vep::kOk) {
            if (walking) s.opened = 0;
            s.state.modelName.fill(0);
            std::memcpy(s.state.modelName.data(), name.data(), std::min(name.size(), s.state.modelName.size() - 1));
            s.state.trace.Line("set model name:%s", s.state.modelName.data());
            break;
        }
        s.model.Unload();
    }
    s.state.trace.Line("end search :%d", result);
    return result;
}

int VepLibrary::OpenByType(Session& s, const char* file) {
    const int type = s.model.Params().connectType;
    int result = vep::kFailed;
    if (type == 2) result = s.serial.Open();
    if (type == 1) result = s.storage.Open();
    if (type == 0) {
        result = s.usb.Open();
        const VepSpecialModel* special = FindSpecialModel(s.usb.DeviceName());
        if (result == vep::kOk && special != nullptr && special->replacement != nullptr)
            result = s.model.Load(file, special->replacement, s.state);
    }
    if (type < 0) s.state.trace.Line("unknown connection");
    if (result == vep::kOk) s.opened = type;
    return result;
}

const std::string& VepLibrary::DeviceName(Session& s, int kind) {
    static const std::string kNone;
    if (s.opened == 2) return kind == 0 ? s.serial.DeviceName() : s.serial.Revision();
    if (s.opened == 1) return kind == 0 ? s.storage.DeviceName() : kNone;
    return kind == 0 ? s.usb.DeviceName() : s.usb.Revision();
}

// A running job's version query rewrites the name and revision: no copy while it runs.
int VepLibrary::GetConnectDeviceID(char* out, int kind) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    static const std::string kNone;
    CopyText(out, kIdField, kind == 0 || kind == 1 ? DeviceName(*s, kind) : kNone);
    return vep::kOk;
}

int VepLibrary::GetDeviceInfo(str_device_info* out) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    *out = {};
    const std::string& name = DeviceName(*s, 0);
    const std::string& revision = DeviceName(*s, 1);
    std::memcpy(out->name, name.data(), std::min(name.size(), sizeof(out->name)));
    std::memcpy(out->revision, revision.data(), std::min(revision.size(), sizeof(out->revision)));
    CopyText(out->model, sizeof(out->model), s->state.modelName.data());
    return vep::kOk;
}

int VepLibrary::SetComPort(int port) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    session_->state.comPort = port;
    return vep::kOk;
}

int VepLibrary::DebugMode(int on) {
    std::lock_guard guard(lock_);
    debug_ = on != 0;
    if (session_) session_->state.trace.SetEnabled(debug_);
    return vep::kOk;
}

int VepLibrary::SetBpMode(int mode) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    session_->state.downloadMode = mode & 0xFF;
    session_->state.trace.Line("Bp Download Mode : %02X", mode & 0xFF);
    return vep::kOk;
}

int VepLibrary::SetUserKbn(int user) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    session_->model.SetUserSelector(user);
    return vep::kOk;
}

int VepLibrary::SetLastDataSerial(int serial) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    session_->lastDataSerial = serial;
    return vep::kOk;
}

int VepLibrary::StartJob(VepJob job) {
    std::lock_guard guard(lock_);
    if (!session_) return Refused(__func__);
    Session& s = *session_;
    if (s.state.Status() > 0) return vep::kOk;
    const VepModelParams& p = s.model.Params();
    if ((job == VepJob::InfoRead || job == VepJob::InfoWrite) && p.infoData == 0) return 1;
    if (job == VepJob::Weekly && p.sumData != 1 && p.sumData != 3) return vep::kOk;
    if (s.opened == kNoConnection) {
        s.state.trace.Line("no device open");
        return vep::kFailed;
    }
    if (job_.joinable()) job_.join();
    s.state.ResetProgress();
    s.state.abort = false;
    s.state.thMode = s.state.connectMode.load();
    s.state.thStatus = 0;
    s.state.thCnt = 1;
    job_ = std::thread([this, &s, job, mode = s.state.thMode.load()] { RunJob(s, job, mode); });
    if (job != VepJob::InfoRead && job != VepJob::InfoWrite) VepPause(kStartPause);
    return vep::kOk;
}

void VepLibrary::RunJob(Session& s, VepJob job, int mode) {
    int result = vep::kFailed;
    try {
        result = Dispatch(s, job, mode);
        if (job == VepJob::Readings && result == vep::kOk) result = Decode(s, mode);
    } catch (const std::exception& e) {
        s.state.trace.Line("exception:%s", e.what());
    }
    // The result first: a poll that sees the job over must see how it ended.
    s.state.thStatus = result;
    s.state.thCnt = 0;
}

int VepLibrary::Dispatch(Session& s, VepJob job, int mode) {
    if (mode == 2) {
        SerialProcedures serial(s.serial, s.model, s.state);
        switch (job) {
            case VepJob::Readings: return serial.ReadingsJob();
            case VepJob::InfoRead: return serial.InfoReadJob();
            case VepJob::InfoWrite: return serial.InfoWriteJob();
            case VepJob::Clear: return serial.ClearJob();
            default: return vep::kFailed;
        }
    }
    if (mode == 1) {
        StorageFiles files(s.model, s.state);
        switch (job) {
            case VepJob::Readings: return s.storage.Download(0);
            case VepJob::Weekly: return s.storage.Download(1);
            case VepJob::Monthly: return s.storage.Download(2);
            case VepJob::InfoRead: return files.ReadJob();
            case VepJob::InfoWrite: return files.WriteJob();
            default: return vep::kFailed;
        }
    }
    if (mode == 0) {
        UsbSerialDownload download(s.usb, s.model, s.state);
        UsbSerialSettings settings(s.usb, s.model, s.state);
        switch (job) {
            case VepJob::Readings: return download.Run(0);
            case VepJob::Weekly: return download.Run(1);
            case VepJob::InfoRead: return settings.ReadJob();
            case VepJob::InfoWrite: return settings.WriteJob();
            case VepJob::Clear: return settings.ClearJob();
            default: return vep::kFailed;
        }
    }
    return vep::kFailed;
}

int VepLibrary::Decode(Session& s, int mode) {
    const VepModelParams& p = s.model.Params();
    const std::string path = p.filePath + p.fileName;
    // A drive's file, unlike a work file, is read only when it is the drive's own, and an
    // abort ends its read. A work file holds what the job already brought in, which the
    // monitor may have cleared since: an abort that came by now does not throw it away,
    // and is cleared as seen, so that no later search takes it for its own.
    const bool drive = mode == 1;
    const std::string volume = drive ? p.filePath : std::string();
    std::function<bool()> aborted;
    if (drive)
        aborted = [&s] { return s.state.TakeAbort(); };
    else
        s.state.TakeAbort();
    if (p.downloadType == 2) return s.walking.DecodeFile(path, p, s.state.trace, aborted, volume);
    return s.state.readings.DecodeFile(path, p, s.state.trace, aborted, volume);
}

int VepLibrary::GetStatus() {
    std::lock_guard swap(sessionLock_);
    return session_ ? session_->state.Status() : vep::kFailed;
}

int VepLibrary::GetErrStatus() {
    std::lock_guard swap(sessionLock_);
    return session_ ? session_->state.thStatus.load() : vep::kFailed;
}

int VepLibrary::GetProgress() {
    std::lock_guard swap(sessionLock_);
    return session_ ? session_->state.Progress() : vep::kFailed;
}

VepLibrary::Session* VepLibrary::Idle() {
    if (!session_ || session_->state.thCnt > 0) return nullptr;
    return session_.get();
}

// A poll: the stores keep their counts atomic.
int VepLibrary::GetDataCnt() {
    int count = vep::kFailed;
    {
        std::lock_guard swap(sessionLock_);
        const Session* s = Idle();
        if (s != nullptr) {
            const int mode = s->state.libraryMode;
            count = mode == 0 ? s->state.readings.Count() : mode == 1 ? s->walking.Count() : 0;
        }
    }
    return count >= 0 ? count : Refused(__func__);
}

int VepLibrary::SetDataCurrent(int no) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr) return Refused(__func__);
    const bool selected = s->state.libraryMode == 1 ? s->walking.Select(no) : s->state.readings.Select(no);
    return selected ? vep::kOk : vep::kFailed;
}

int VepLibrary::GetBpData(str_bp_retdata* out) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    return s->state.readings.CopySelected(*out) ? vep::kOk : vep::kFailed;
}

int VepLibrary::GetSummaryCnt(bool month) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr) return Refused(__func__);
    return static_cast<int>((month ? s->state.monthData : s->state.weekData).size());
}

int VepLibrary::SetSummaryCurrent(bool month, int no) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr) return Refused(__func__);
    const auto& store = month ? s->state.monthData : s->state.weekData;
    int& selected = month ? s->monthSelected : s->weekSelected;
    if (no < 0 || no >= static_cast<int>(store.size())) {
        selected = -1;
        return Refused(__func__);
    }
    selected = no;
    return vep::kOk;
}

int VepLibrary::GetSummaryData(bool month, str_sumbp_data* out) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    const auto& store = month ? s->state.monthData : s->state.weekData;
    const int selected = month ? s->monthSelected : s->weekSelected;
    if (selected < 0 || selected >= static_cast<int>(store.size())) return Refused(__func__);
    *out = store[static_cast<std::size_t>(selected)];
    return vep::kOk;
}

int VepLibrary::GetBpInfo(void* info) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || info == nullptr) return Refused(__func__);
    std::memcpy(info, s->state.settings.Bytes().data(), VepSettingsBlock::kSize);
    return s->state.settings.Byte(VepSettingsBlock::kPatientId) == 0 ? 1 : 0;
}

int VepLibrary::SetBpInfo(const void* info) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || info == nullptr) return Refused(__func__);
    std::memcpy(s->state.settings.Bytes().data(), info, VepSettingsBlock::kSize);
    return vep::kOk;
}

int VepLibrary::GetWalkingInfo(void* out) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    std::memcpy(out, &s->walking.Head(), sizeof(str_np_head));
    return vep::kOk;
}

int VepLibrary::GetWalkingData(void* out) {
    std::lock_guard guard(lock_);
    Session* s = Idle();
    if (s == nullptr || out == nullptr) return Refused(__func__);
    str_np_data record;
    std::memcpy(&record, out, sizeof(record));
    if (!s->walking.CopySelected(record)) return Refused(__func__);
    std::memcpy(out, &record, sizeof(record));
    return vep::kOk;
}

int VepLibrary::Refused(const char* where) {
    std::lock_guard guard(sessionLock_);
    if (session_) session_->state.trace.Line("%s refused", where);
    return vep::kFailed;
}

void VepLibrary::TraceException(const char* where, const char* what) {
    std::lock_guard guard(sessionLock_);
    if (session_) session_->state.trace.Line("%s exception:%s", where, what);
}
