// Binding the device modules of the USB sources and calling into them.
#include <cstring>
#include <memory>
#include <mutex>

#include "Config.h"
#include "CxLog.h"
#include "HealthDevices.h"
#include "HealthElementSource.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "Text.h"

namespace {

constexpr const wchar_t* kFn = L"CHealthResources::InitModuleInterface";
// Module answers get room past the documented sizes, so a module that writes a little
// too much still writes into our memory, and every text is read bounded.
constexpr std::size_t kAttributeAnswer = 36;
constexpr std::size_t kOutputArea = 128;

// A name that could leave the interface folder is no module of ours.
bool IsPlainFileName(const std::wstring& name) {
    return !name.empty() && name.find_first_of(L"/\\") == std::wstring::npos && name.find(L"..") == std::wstring::npos;
}

template <class Proc>
bool Bind(HMODULE handle, const char* name, Proc& slot) {
    slot = reinterpret_cast<Proc>(GetProcAddress(handle, name));
    return slot != nullptr;
}

std::string Bounded(const char* area, std::size_t size) { return std::string(area, strnlen(area, size)); }

// The module's call lock, unless a device read holds it (for a whole download).
std::unique_lock<std::mutex> LockIfFree(struModuleInterface& module) {
    return std::unique_lock(module.callLock, std::try_to_lock);
}

}  // namespace

struModuleInterface::~struModuleInterface() {
    if (handle != nullptr) FreeLibrary(handle);
}

int CHealthResources::BindModuleExports(struModuleInterface* module) {
    struModuleInterface& m = *module;
    const HMODULE h = m.handle;
    if (!Bind(h, "InitModule", m.InitModule)) return -101;
    if (!Bind(h, "StartWork", m.StartWork)) return -102;
    if (!Bind(h, "StopWork", m.StopWork)) return -103;
    if (!Bind(h, "GetModuleState", m.GetModuleState)) return -105;
    if (!Bind(h, "GetElementAttribute", m.GetElementAttribute)) return -106;
    if (!Bind(h, "ReadModuleData", m.ReadModuleData)) return -107;
    if (!Bind(h, "ReadModuleHisData", m.ReadModuleHisData)) return -108;
    if (!Bind(h, "ReadModuleOrigData", m.ReadModuleOrigData)) return -109;
    if (!Bind(h, "ReadModuleOrigDataToBuf", m.ReadModuleOrigDataToBuf)) return -110;
    if (!Bind(h, "GetModuleOrigData", m.GetModuleOrigData)) return -111;
    if (!Bind(h, "GetModuleID", m.GetModuleID)) return -112;
    if (!Bind(h, "ReadModuleID", m.ReadModuleID)) return -113;
    if (!Bind(h, "SetModuleDevOption", m.SetModuleDevOption)) return -114;
    Bind(h, "GetModuleDataProcStatus", m.GetModuleDataProcStatus);
    Bind(h, "SetModuleDataProcStatusCallBackFunc", m.SetModuleDataProcStatusCallBackFunc);
    if (!Bind(h, "CloseModule", m.CloseModule)) return -200;
    return 0;
}

int CHealthResources::InitModuleInterface(struHealthElementSourceTypeW* source) {
    if (source == nullptr) return -1;
    // One binding at a time: a second thread finds the slot set, or binds after a failure.
    std::lock_guard bind(m_bindLock);
    if (source->moduleInterface.load() != nullptr) return 0;
    auto module = std::make_unique<struModuleInterface>();
    module->path = g_Config.m_config.binDir + L"/interface/" + source->interfaceName;
    if (IsPlainFileName(source->interfaceName)) module->handle = LoadLibraryW(module->path.c_str());
    if (module->handle == nullptr) {
        LOGF(LOG_MESSAGE, kFn, L"加载dll[%s]失败", module->path.c_str());
        return -1;
    }
    const int bound = BindModuleExports(module.get());
    if (bound < 0) {
        LOGF(LOG_MESSAGE, kFn, L"加载func[%s]:[%d]失败", module->path.c_str(), bound);
        return -1;  // the record unloads the library
    }
    ReadModuleElementAttributes(source, module.get());
    const int result = module->InitModule();
    if (result < 0) {
        LOGF(LOG_MESSAGE, kFn, L"初始化模块[%s]失败[%d]!", module->path.c_str(), result);
        return -1;
    }
    // Published only now, so nobody calls through a record that is not ready.
    source->moduleInterface = module.get();
    m_devices->modules.push_back(std::move(module));
    return result;
}

void CHealthResources::ReadModuleElementAttributes(struHealthElementSourceTypeW* source, struModuleInterface* module) {
    std::vector<std::wstring> ids;
    WithElements([&ids, source](HealthElementMap& elements) {
        for (const auto& [id, element] : elements) {
            if (element.sourceNo == source->sourceNo) ids.push_back(id);
        }
    });
    const auto attribute = [module](const std::string& name, int type, int& answer) {
        char buffer[kAttributeAnswer] = {};
        const int result = module->GetElementAttribute(name.c_str(), type, buffer);
        answer = text::WToI(text::FromAnsi(Bounded(buffer, sizeof buffer - 1)).c_str());
        return result >= 0;
    };
    for (const std::wstring& id : ids) {
        const std::string name = text::ToAnsi(id);
        int answer = 0;
        if (!attribute(name, 1, answer)) continue;
        if (answer != 1) {
            if (g_pHealthElementSource != nullptr)
                g_pHealthElementSource->SetSourceLinkState(source->sourceNo, source->linkState.load());
        }
        if (!attribute(name, 2, answer)) continue;
        if (answer < 0) WithElement(id, [](struHealthElementW& e) { e.reDispCycle = -1; });
        if (!attribute(name, 3, answer)) continue;
        if (answer < 0) WithElement(id, [](struHealthElementW& e) { e.changeCycle = -1; });
    }
}

struModuleInterface* CHealthResources::BoundModuleOf(const std::wstring& id) const {
    const auto element = FindElement(id);
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    if (!element || sources == nullptr) return nullptr;
    const struHealthElementSourceTypeW* source = sources->GetSourceType(element->sourceNo);
    return source != nullptr ? source->moduleInterface.load() : nullptr;
}

int CHealthResources::ReadModuleValue(struModuleInterface* module, const std::wstring& id, char mode,
                                      ModuleReading& out) {
    const auto call = LockIfFree(*module);
    if (!call) return -1;
    struModuleReadRequest request{};
    text::CopyA(request.name, sizeof request.name, text::ToAnsi(id));
    request.mode = mode;
    char output[kOutputArea] = {};
    const int result = module->ReadModuleData(&request, output);
    if (result != 0) return result;
    out.value = Bounded(output + kModuleValueOffset, kModuleTimeOffset - kModuleValueOffset);
    out.time = Bounded(output + kModuleTimeOffset, kModuleTickOffset - kModuleTimeOffset);
    // An empty value is no reading: the module left the area untouched.
    return out.value.empty() ? -1 : 0;
}

int CHealthResources::CallModuleWork(const std::wstring& id, bool start) {
    struModuleInterface* module = BoundModuleOf(id);
    if (module == nullptr) return -1;
    const auto call = LockIfFree(*module);
    if (!call) return -1;
    return start ? module->StartWork() : module->StopWork();
}

std::wstring CHealthResources::GetModuleValue(const std::wstring& id) {
    struModuleInterface* module = BoundModuleOf(id);
    ModuleReading reading;
    if (module == nullptr || ReadModuleValue(module, id, '1', reading) != 0) return {};
    return text::FromAnsi(reading.value);
}
