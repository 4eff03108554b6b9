#include "ProgramFolderFixture.h"

#include "DefaultDatabase.h"
#include "Quorvix.h"

ProgramFolderFixture::ProgramFolderFixture() : oldCwd_(std::filesystem::current_path()) {
    MakeDefaultDatabase(dir_ / "Quorv10.db");
    std::filesystem::copy_file(IniTemplatePath(), dir_ / "Quorv10.ini");
    std::filesystem::current_path(dir_.Path());
    Hooks().sysfsRoot = dir_ / "no-sysfs";
    Hooks().configFolder = dir_ / ".config";
    Hooks().messageBox = [this](const std::wstring& text, const std::wstring& caption, UINT) {
        boxes_.push_back(caption + L":" + text);
        return IDOK;
    };
    Hooks().openDocument = [this](const std::wstring& target) {
        opened_.push_back(target);
        return true;
    };
    Hooks().exitProcess = [this](int code) { exitCodes_.push_back(code); };
    Hooks().longSleep = [](DWORD) {};
}

ProgramFolderFixture::~ProgramFolderFixture() {
    std::filesystem::current_path(oldCwd_);
    g_nRunState = 1;
}
