// The pedometer module's exports.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>

#include "Hooks.h"
#include "ModuleExports.h"
#include "PedoDevice.h"
#include "PedoHistory.h"

namespace {

constexpr struModuleElement kElements[kModuleElementRows] = {
    {"pedoNumberOfSteps", {1, 1000, 100, 0, 0}},
    {"pedoCalorieExpenditure", {1, 1000, 100, 0, 0}},
    {"pedoValidTime", {1, 1000, 100, 0, 0}},
};
constexpr std::int32_t kElementNameResult = 37;
constexpr std::size_t kDeviceTimeSize = kModuleTickOffset - kModuleTimeOffset;
constexpr std::size_t kDeviceTickSize = kModuleOutputSize - kModuleTickOffset;

// Made by the first successful InitModule and kept until the library is unloaded, so a
// call after CloseModule still finds them.
std::mutex g_initLock;
std::atomic<std::int32_t> g_state{kModuleStateNew};
std::unique_ptr<CPedoHistory> g_history;
std::unique_ptr<CPedoDevice> g_device;

bool Ready() { return g_state.load() == kModuleStateReady; }

int Today() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now.wYear * 10000 + now.wMonth * 100 + now.wDay;
}

struct NamedValue {
    std::string_view name;
    PedoValue value;
};
// The names ReadModuleData answers, and those of the history rows.
constexpr NamedValue kCurrentValues[] = {
    {"pedoNumberOfSteps", PedoValue::Steps}, {"pedoHeat", PedoValue::Calories}, {"pedoTime", PedoValue::ValidTime}};
constexpr NamedValue kHistoryValues[] = {{"pedoNumberOfSteps", PedoValue::Steps},
                                         {"pedoCalorieExpenditure", PedoValue::Calories},
                                         {"pedoValidTime", PedoValue::ValidTime}};

template <std::size_t N>
std::optional<PedoValue> ValueNamed(const NamedValue (&values)[N], std::string_view name) {
    for (const auto& named : values) {
        if (named.name == name) return named.value;
    }
    return std::nullopt;
}

// The date limit of a since text "y-m-d" (fields may be missing): -1, all rows, when
// nothing parses or the date lies outside 2000-01-01..2100-01-01.
int SinceLimit(const char* since) {
    if (since == nullptr) return -1;
    long long fields[3] = {0, 0, 0};
    int read = 0;
    const char* at = since;
    for (; read < 3; ++read) {
        if (read > 0) {
            if (*at != '-') break;
            ++at;
        }
        char* end = nullptr;
        fields[read] = std::strtoll(at, &end, 10);
        if (end == at) break;
        at = end;
    }
    if (read == 0) return -1;
    for (auto& field : fields) field = std::clamp(field, -1000000LL, 1000000LL);
    const long long limit = fields[0] * 10000 + fields[1] * 100 + fields[2];
    return limit >= 20000101 && limit <= 21000101 ? static_cast<int>(limit) : -1;
}

void WriteCurrentValue(char* out, int value) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::snprintf(out + kModuleValueOffset, kModuleTimeOffset - kModuleValueOffset, "%d", value);
    char time[64];  // room for any field values; a real clock gives 23 characters
    std::snprintf(time, sizeof(time), "%4d-%02d-%02d %02d:%02d:%02d.%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    std::snprintf(out + kModuleTimeOffset, kDeviceTimeSize, "%.*s", static_cast<int>(kDeviceTimeSize - 1), time);
    // The 32-bit tick, unsigned: ten digits at most, so it ends within the area.
    std::snprintf(out + kModuleTickOffset, kDeviceTickSize, "%u", static_cast<unsigned>(GetTickCount()));
}

}  // namespace

QUORV_MODULE_EXPORT std::int32_t InitModule() {
    std::lock_guard guard(g_initLock);
    if (Ready()) return 0;
    std::unique_ptr<CPedoHistory> history(new (std::nothrow) CPedoHistory);
    if (!history) return -1;
    std::unique_ptr<CPedoDevice> device(new (std::nothrow) CPedoDevice);
    if (!device) return -3;
    g_history = std::move(history);
    g_device = std::move(device);
    g_state = kModuleStateReady;
    return 0;
}

// The lock and the objects stay: later calls, which the caller should not make, still work.
QUORV_MODULE_EXPORT std::int32_t CloseModule() { return 0; }

QUORV_MODULE_EXPORT std::int32_t StartWork() { return 0; }

QUORV_MODULE_EXPORT std::int32_t StopWork() { return 0; }

QUORV_MODULE_EXPORT std::int32_t GetModuleState() { return g_state.load(); }

QUORV_MODULE_EXPORT std::int32_t GetElementName() { return kElementNameResult; }

QUORV_MODULE_EXPORT std::int32_t GetElementAttribute(const char* name, std::int32_t type, char* out) {
    return LookUpElementAttribute(kElements, name, type, out);
}

QUORV_MODULE_EXPORT std::int32_t dev_ResetData() { return 0; }

QUORV_MODULE_EXPORT std::int32_t ReadModuleID() { return Ready() ? g_device->ReadId() : -1; }

QUORV_MODULE_EXPORT std::int32_t GetModuleID(char** out) {
    if (out == nullptr) return -1;
    if (!Ready()) {
        *out = const_cast<char*>("");
        return 0;
    }
    *out = const_cast<char*>(g_device->IdText());
    return g_device->IdLength();
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigData() { return Ready() ? g_device->ReadOrigData() : -1; }

QUORV_MODULE_EXPORT std::int32_t GetModuleOrigData(char** out) {
    if (out == nullptr) return -1;
    if (!Ready()) {
        *out = const_cast<char*>("");
        return -1;
    }
    *out = const_cast<char*>(g_device->OrigText());
    return g_device->OrigLength();
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigDataToBuf(void* buf, std::int32_t size) {
    if (buf == nullptr || !Ready()) return -1;
    return g_device->ReadOrigDataInto(buf, size);  // read and copied under one lock
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleData(struModuleReadRequest* req, char* out) {
    if (req == nullptr || out == nullptr || (req->mode != '1' && req->mode != '2')) return -1;
    // The name field need not be terminated within its 32 bytes.
    const auto value = ValueNamed(kCurrentValues, std::string_view(req->name, strnlen(req->name, sizeof(req->name))));
    if (!value || !Ready()) return -1;
    std::lock_guard guard(g_history->Lock());
    if (g_device->ReadDayRecords(*g_history, Today()) < 0) return -1;
    const struPedoHisDay* newest = g_history->Newest();
    if (newest == nullptr) return -1;
    WriteCurrentValue(out, PedoValueOf(*newest, *value));
    return 0;
}

QUORV_MODULE_EXPORT std::int32_t ReadModuleHisData(const char* name, const char* since, char* out,
                                                   std::uint32_t outSize) {
    if (name == nullptr || out == nullptr || outSize == 0 || !Ready()) return -1;
    out[0] = '\0';
    const auto value = ValueNamed(kHistoryValues, name);
    if (!value) return 0;
    std::lock_guard guard(g_history->Lock());
    const int today = Today();
    // A failed read would leave the rows empty, and empty rows print as today with 0.
    if (g_device->ReadDayRecords(*g_history, today) < 0) return -1;
    return g_history->WriteRows(*value, SinceLimit(since), today, out, outSize);
}

QUORV_MODULE_EXPORT std::int32_t SetModuleDevOption(const char* options) {
    if (options == nullptr || !Ready()) return -1;
    return g_device->WriteOptions(options);
}
