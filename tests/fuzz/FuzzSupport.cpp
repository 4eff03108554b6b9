#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace fuzz {
namespace {

// libFuzzer's options that name a file or folder.
constexpr std::string_view kPathOptions[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                             "-features_dir=", "-merge_control_file="};

fs::path& WorkDir() {
    static fs::path dir;
    return dir;
}

// The argument with its path made absolute against `base`.
std::string Absolute(std::string_view arg, const fs::path& base) {
    if (!arg.starts_with('-')) return (base / arg).string();
    for (std::string_view option : kPathOptions) {
        if (arg.starts_with(option) && arg.size() > option.size())
            return std::string(option) + (base / arg.substr(option.size())).string();
    }
    return std::string(arg);
}

// libFuzzer takes the last of an option given twice, so the defaults go first.
void RewriteArguments(int* argc, char*** argv, const fs::path& base, std::initializer_list<const char*> defaults) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    bool prefixGiven = false;
    texts.emplace_back((*argv)[0]);
    texts.insert(texts.end(), defaults.begin(), defaults.end());
    for (int i = 1; i < *argc; ++i) {
        const std::string_view arg = (*argv)[i];
        prefixGiven = prefixGiven || arg.starts_with(kPathOptions[0]);
        texts.push_back(Absolute(arg, base));
    }
    if (!prefixGiven) texts.push_back(std::string(kPathOptions[0]) + (base / "").string());
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}

}  // namespace

void EnterWorkDir(int* argc, char*** argv, std::initializer_list<const char*> defaults) {
    const fs::path started = fs::current_path();
    RewriteArguments(argc, argv, started, defaults);
    std::string pattern = (fs::temp_directory_path() / "quorv-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    WorkDir() = pattern;
    fs::current_path(WorkDir());
    std::ofstream(WorkDir() / "Log") << "not a folder: the log stays unwritten\n";
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(WorkDir(), ec);
    });
}

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

}  // namespace fuzz
