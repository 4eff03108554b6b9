#include "ProgramCopy.h"

#include "LogReader.h"
#include "Profile.h"
#include "Text.h"

namespace {
const wchar_t* const kSection = L"Login";
}

ProgramCopy::ProgramCopy(const std::filesystem::path& dist) : folder_(dir_ / "dist") {
    std::filesystem::copy(dist, folder_, std::filesystem::copy_options::recursive);
    // What a run in the build folder leaves: the log and the user folders.
    std::vector<std::filesystem::path> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        const std::string name = entry.path().filename().string();
        if (name == "Log" || (entry.is_directory() && name.starts_with("quorv_"))) leftovers.push_back(entry.path());
    }
    for (const auto& path : leftovers) std::filesystem::remove_all(path);
}

std::wstring ProgramCopy::LoginSetting(const std::wstring& key) const {
    return GetProfileText(kSection, key.c_str(), L"", IniPath().c_str());
}

void ProgramCopy::SetLoginSetting(const std::wstring& key, const std::wstring& value) const {
    WritePrivateProfileStringW(kSection, key.c_str(), value.c_str(), IniPath().c_str());
}

std::wstring ProgramCopy::IniPath() const { return text::FromUtf8((folder_ / "Quorv10.ini").string()); }

std::unique_ptr<ChildProcess> ProgramCopy::Start(const std::vector<std::string>& args,
                                                 const std::string& outputName) const {
    const std::string home = dir_.Path().string();
    return std::make_unique<ChildProcess>(folder_ / "quorvix", args, dir_ / outputName,
                                          std::vector<std::string>{"XDG_RUNTIME_DIR=" + home, "HOME=" + home,
                                                                   "XDG_CONFIG_HOME=" + home + "/.config"});
}

std::wstring ProgramCopy::Log() const { return ReadProgramLog(folder_); }
