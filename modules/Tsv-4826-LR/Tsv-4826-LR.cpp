// The blood-pressure module's exports. Its one real export is the download; the rest
// answer as the module interface fixes them.
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "BpDownload.h"
#include "ModuleExports.h"
#include "Text.h"
#include "VepInterface.h"

namespace {

constexpr struModuleElement kElements[kModuleElementRows] = {
    {"diastolicBloodPressure", {1, 1000, 100, 0, 0}},
    {"systolicBloodPressure", {1, 1000, 100, 0, 0}},
    {"quietPulse", {1, 1000, 100, 0, 0}},
};
constexpr std::int32_t kElementNameResult = 37;
// The work buffer the download is handed; only its size is looked at.
constexpr std::size_t kWorkBufferSize = 2048;

// Kept until the library is unloaded, so a call after CloseModule still finds them.
std::mutex g_initLock;
std::atomic<std::int32_t> g_state{kModuleStateNew};
struVepInterface g_vep;
CBpDownload g_download{g_vep};

bool Ready() { return g_state.load() == kModuleStateReady; }

// The library "interface/Vepcom.dll" under the current directory, bound in table order.
int LoadVepLibrary() {
    std::error_code ec;
    const std::filesystem::path current = std::filesystem::current_path(ec);
    if (ec) return kVepNoLibrary;
    std::wstring path;
    // A path cut to the buffer would name another file: treated as no library.
    if (!text::FormatW(path, kVepPathChars, L"%s/interface/Vepcom.dll", current.wstring().c_str()))
        return kVepNoLibrary;
    return g_vep.Load(path);
}

}  // namespace

QUORV_MODULE_EXPORT std::int32_t InitModule() {
    std::lock_guard guard(g_initLock);
    if (Ready()) return 0;
    const int loaded = LoadVepLibrary();
    if (loaded != 0) return loaded;
    g_state = kModuleStateReady;
    return 0;
}

// The lock and the binding stay: later calls, which the caller should not make, still work.
QUORV_MODULE_EXPORT std::int32_t CloseModule() { return 0; }

QUORV_MODULE_EXPORT std::int32_t StartWork() { return 0; }

QUORV_MODULE_EXPORT std::int32_t StopWork() { return 0; }

QUORV_MODULE_EXPORT std::int32_t GetModuleState() { return g_state.load(); }

QUORV_MODULE_EXPORT std::int32_t GetElementName() { return kElementNameResult; }

QUORV_MODULE_EXPORT std::int32_t GetElementAttribute(const char* name, std::int32_t type, char* out) {
    return LookUpElementAttribute(kElements, name, type, out);
}

QUORV_MODULE_EXPORT std::int32_t dev_ResetData() { return 0; }

QUORV_MODULE_EXPORT std::int32_t ReadModuleID() { return 0; }

QUORV_MODULE_EXPORT std::int32_t GetModuleID(char** out) {
    if (out == nullptr) return -1;
    *out = const_cast<char*>("");
    return 0;
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigData() { return g_download.DownloadBpData(Ready(), kWorkBufferSize); }

QUORV_MODULE_EXPORT std::int32_t GetModuleOrigData(char** out) {
    if (out == nullptr) return -1;
    return g_download.GetOrigData(out);
}

// Nothing is copied. The library's own error codes are positive: they become negative
// here, so a failed download never reads as success.
QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigDataToBuf(void*, std::int32_t) {
    const int result = ReadModuleOrigData();
    return result > 0 ? -result : result;
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleData(struModuleReadRequest*, char*) { return 0; }

QUORV_MODULE_EXPORT std::int32_t ReadModuleHisData(const char*, const char*, char*, std::uint32_t) { return 0; }

QUORV_MODULE_EXPORT std::int32_t SetModuleDevOption(const char*) { return 0; }

QUORV_MODULE_EXPORT std::int32_t SetModuleDataProcStatusCallBackFunc(DataProcStatusCallBack callback) {
    g_download.SetCallback(callback);
    return 0;
}

QUORV_MODULE_EXPORT std::int32_t GetModuleDataProcStatus() { return 0; }
