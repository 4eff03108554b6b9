// The health elements with device modules: a program folder whose interface/ holds the
// test modules, the source links loaded, and a fake USB tree behind the sysfs hook.
#pragma once

#include <filesystem>
#include <string>

#include "Config.h"
#include "DynamicLibrary.h"
#include "FakeUsbTree.h"
#include "HealthDevices.h"
#include "HealthElementSource.h"
#include "HealthResourcesFixture.h"
#include "Hooks.h"

class HealthDevicesTest : public HealthResourcesTest {
protected:
    HealthDevicesTest() : savedBinDir_(g_Config.m_config.binDir), usb_(dir_ / "sys") {
        g_Config.m_config.binDir = text::FromUtf8(dir_.Path().string());
        std::filesystem::create_directories(dir_ / "interface");
        g_pHealthElementSource = &links_;
        links_.LoadFromDB();
        Hooks().sysfsRoot = usb_.Root();
    }
    ~HealthDevicesTest() override {
        resources_.StopWatch();
        g_pHealthElementSource = nullptr;
        g_Config.m_config.binDir = savedBinDir_;
    }

    // Copies a test module into interface/ (its own copy, so each test loads it afresh)
    // and names it in the source.
    struHealthElementSourceTypeW& UseModule(int sourceNo, const std::string& variant) {
        const std::string file = "testmod_" + variant + ".so";
        std::filesystem::copy_file(std::filesystem::path(QUORV_TEST_MODULES) / file, dir_ / "interface" / file,
                                   std::filesystem::copy_options::overwrite_existing);
        struHealthElementSourceTypeW& source = *sources_.GetSourceType(sourceNo);
        source.interfaceName = text::FromUtf8("testmod_" + variant + ".dll");
        return source;
    }
    std::wstring ModulePath(const std::string& variant) const {
        return text::FromUtf8((dir_ / "interface" / ("testmod_" + variant + ".dll")).string());
    }
    // Whether the library is loaded now (asking takes a reference, given back here).
    static bool Loaded(const std::wstring& path) {
        const HMODULE handle = GetModuleHandleW(path.c_str());
        if (handle != nullptr) FreeLibrary(handle);
        return handle != nullptr;
    }
    // A counter export of the bound module of the source.
    int Count(const struHealthElementSourceTypeW& source, const char* counter) {
        const struModuleInterface* module = source.moduleInterface.load();
        if (module == nullptr) return -1;
        const auto proc = reinterpret_cast<int (*)()>(GetProcAddress(module->handle, counter));
        return proc != nullptr ? proc() : -1;
    }

    HookScope hooks_;
    const std::wstring savedBinDir_;
    CHealthElementSource links_;
    FakeUsbTree usb_;
};
