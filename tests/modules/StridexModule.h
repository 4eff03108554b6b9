// The built pedometer module loaded as the program loads it, with its exports bound by
// name. A fresh copy (the file copied into a temporary folder, loaded from there) starts
// with the module's first state, whatever other tests of the process did with theirs.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "DynamicLibrary.h"
#include "ModuleInterface.h"
#include "Text.h"

struct StridexExports {
    InitModuleProc InitModule = nullptr;
    CloseModuleProc CloseModule = nullptr;
    StartWorkProc StartWork = nullptr;
    StopWorkProc StopWork = nullptr;
    GetModuleStateProc GetModuleState = nullptr;
    GetElementNameProc GetElementName = nullptr;
    GetElementAttributeProc GetElementAttribute = nullptr;
    DevResetDataProc dev_ResetData = nullptr;
    ReadModuleIDProc ReadModuleID = nullptr;
    GetModuleIDProc GetModuleID = nullptr;
    ReadModuleOrigDataProc ReadModuleOrigData = nullptr;
    GetModuleOrigDataProc GetModuleOrigData = nullptr;
    ReadModuleOrigDataToBufProc ReadModuleOrigDataToBuf = nullptr;
    ReadModuleDataProc ReadModuleData = nullptr;
    ReadModuleHisDataProc ReadModuleHisData = nullptr;
    SetModuleDevOptionProc SetModuleDevOption = nullptr;
};

class StridexModule {
public:
    // The module as the build lays it out in the program's interface folder.
    static std::filesystem::path Built() { return STRIDEX_MODULE; }

    static std::unique_ptr<StridexModule> FreshCopy(const std::filesystem::path& folder) {
        const auto copy = folder / Built().filename();
        std::filesystem::copy_file(Built(), copy, std::filesystem::copy_options::overwrite_existing);
        return std::make_unique<StridexModule>(copy);
    }

    // file may be named "X.dll", as the program's data names modules.
    explicit StridexModule(const std::filesystem::path& file)
        : handle_(LoadLibraryW(text::FromUtf8(file.string()).c_str())) {
        if (handle_ != nullptr) BindAll();
    }
    ~StridexModule() {
        if (handle_ != nullptr) FreeLibrary(handle_);
    }
    StridexModule(const StridexModule&) = delete;
    StridexModule& operator=(const StridexModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    FARPROC Find(const char* name) const { return GetProcAddress(handle_, name); }

    StridexExports fn;

private:
    template <typename Proc>
    void Bind(Proc& proc, const char* name) {
        proc = reinterpret_cast<Proc>(Find(name));
    }

    void BindAll() {
        Bind(fn.InitModule, "InitModule");
        Bind(fn.CloseModule, "CloseModule");
        Bind(fn.StartWork, "StartWork");
        Bind(fn.StopWork, "StopWork");
        Bind(fn.GetModuleState, "GetModuleState");
        Bind(fn.GetElementName, "GetElementName");
        Bind(fn.GetElementAttribute, "GetElementAttribute");
        Bind(fn.dev_ResetData, "dev_ResetData");
        Bind(fn.ReadModuleID, "ReadModuleID");
        Bind(fn.GetModuleID, "GetModuleID");
        Bind(fn.ReadModuleOrigData, "ReadModuleOrigData");
        Bind(fn.GetModuleOrigData, "GetModuleOrigData");
        Bind(fn.ReadModuleOrigDataToBuf, "ReadModuleOrigDataToBuf");
        Bind(fn.ReadModuleData, "ReadModuleData");
        Bind(fn.ReadModuleHisData, "ReadModuleHisData");
        Bind(fn.SetModuleDevOption, "SetModuleDevOption");
    }

    HMODULE handle_ = nullptr;
};
