#include "Autostart.h"

#include <fstream>
#include <system_error>

#include "Hooks.h"
#include "Text.h"

namespace {

const char kRunKey[] = "X-Quorvix-Run=";

std::filesystem::path EntryFile(const std::wstring& name) {
    return Hooks().configFolder / "autostart" / (text::ToUtf8(name) + ".desktop");
}

}  // namespace

bool WriteRunValue(const std::wstring& name, const std::wstring& commandLine) {
    const auto file = EntryFile(name);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const std::string command = text::ToUtf8(commandLine);
    out << "[Desktop Entry]\nType=Application\nName=" << text::ToUtf8(name) << "\nExec=" << command << "\n"
        << kRunKey << command << "\n";
    return static_cast<bool>(out.flush());
}

bool DeleteRunValue(const std::wstring& name) {
    std::error_code ec;
    std::filesystem::remove(EntryFile(name), ec);
    return !ec;
}

bool ReadRunValue(const std::wstring& name, std::wstring& commandLine) {
    std::ifstream in(EntryFile(name), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(kRunKey, 0) == 0) {
            commandLine = text::FromUtf8(line.substr(sizeof kRunKey - 1));
            return true;
        }
    }
    return false;
}
