// The built blood-pressure module loaded as the program loads it, from a fresh copy in a
// program folder whose interface/ holds the monitor library the module is to bind; and
// the reports its status callback received, which any thread may add to.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "StridexModule.h"
#include "Text.h"
#include "Vepcom.h"

// One callback call, the message decoded from the system code page.
struct TsvReport {
    std::string state;
    std::wstring message;
    std::string total;
    std::string processed;
    std::string precent;
    std::string rawMessage;

    bool operator==(const TsvReport& other) const {
        return state == other.state && message == other.message && total == other.total &&
               processed == other.processed && precent == other.precent;
    }
};

inline void PrintTo(const TsvReport& r, std::ostream* os) {
    *os << "(" << r.state << ", " << text::ToUtf8(r.message) << ", " << r.total << ", " << r.processed << ", "
        << r.precent << ")";
}

// A running report as the module sends it, total and processed always "-1".
inline TsvReport Rep(const char* state, const wchar_t* message, const char* precent) {
    return {state, message, "-1", "-1", precent, ""};
}

// The callback has no context argument, so its reports go to one process-wide list.
class TsvReports {
public:
    static TsvReports& Instance() {
        static TsvReports reports;
        return reports;
    }
    static void Callback(const char* state, const char* message, const char* total, const char* processed,
                         const char* precent) {
        Instance().Add({state, text::FromAnsi(message), total, processed, precent, message});
    }

    void Clear() {
        std::lock_guard guard(lock_);
        reports_.clear();
    }
    std::vector<TsvReport> All() const {
        std::lock_guard guard(lock_);
        return reports_;
    }
    std::size_t Size() const {
        std::lock_guard guard(lock_);
        return reports_.size();
    }

private:
    void Add(TsvReport report) {
        std::lock_guard guard(lock_);
        reports_.push_back(std::move(report));
    }

    mutable std::mutex lock_;
    std::vector<TsvReport> reports_;
};

class TsvModule {
public:
    static std::filesystem::path Built() { return TSV_MODULE; }

    // folder becomes the program folder: the module is copied into it, and the library
    // file, when one is given, is linked as interface/Vepcom.so (copied with copy true,
    // so its state starts fresh).
    TsvModule(const std::filesystem::path& folder, const std::filesystem::path& vepcom, bool copy = false) {
        std::filesystem::create_directories(folder / "interface");
        if (!vepcom.empty()) PlaceVepcom(folder, vepcom, copy);
        const auto module = folder / Built().filename();
        std::filesystem::copy_file(Built(), module, std::filesystem::copy_options::overwrite_existing);
        module_ = std::make_unique<StridexModule>(module);
        SetCallback = reinterpret_cast<SetModuleDataProcStatusCallBackFuncProc>(
            module_->Find("SetModuleDataProcStatusCallBackFunc"));
        GetModuleDataProcStatus = reinterpret_cast<GetModuleDataProcStatusProc>(module_->Find("GetModuleDataProcStatus"));
        TsvReports::Instance().Clear();
        if (SetCallback != nullptr) SetCallback(&TsvReports::Callback);
    }

    static void PlaceVepcom(const std::filesystem::path& folder, const std::filesystem::path& vepcom, bool copy) {
        const auto target = folder / "interface" / "Vepcom.so";
        std::filesystem::remove(target);
        if (copy)
            std::filesystem::copy_file(vepcom, target);
        else
            std::filesystem::create_symlink(vepcom, target);
    }

    bool Loaded() const { return module_->Loaded() && SetCallback != nullptr && GetModuleDataProcStatus != nullptr; }
    FARPROC Find(const char* name) const { return module_->Find(name); }
    const StridexExports& Fn() const { return module_->fn; }

    // The readings the last successful download left.
    std::vector<str_bp_retdata> Readings() const {
        char* data = nullptr;
        const int size = module_->fn.GetModuleOrigData(&data);
        std::vector<str_bp_retdata> readings(size > 0 ? static_cast<std::size_t>(size) / sizeof(str_bp_retdata) : 0);
        if (!readings.empty()) std::memcpy(readings.data(), data, readings.size() * sizeof(str_bp_retdata));
        return readings;
    }

    SetModuleDataProcStatusCallBackFuncProc SetCallback = nullptr;
    GetModuleDataProcStatusProc GetModuleDataProcStatus = nullptr;

private:
    std::unique_ptr<StridexModule> module_;
};
