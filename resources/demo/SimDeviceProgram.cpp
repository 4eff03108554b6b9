#include "SimDeviceProgram.h"

#include <algorithm>
#include <cstdio>
#include <vector>


SimDeviceProgram::SimDeviceProgram(std::string name, int argc, char** argv, std::initializer_list<const char*> options)
    : name_(std::move(name)) {
    const std::vector<std::string> known(options.begin(), options.end());
    ok_ = argc >= 2 && argv[1][0] != '-';
    if (ok_) root_ = argv[1];
    for (int i = 2; ok_ && i < argc; i += 2) {
        ok_ = i + 1 < argc && std::find(known.begin(), known.end(), argv[i]) != known.end();
        if (ok_) options_[argv[i]] = argv[i + 1];
    }
    if (!ok_) {
        std::string usage = "usage: " + std::string(argc > 0 ? argv[0] : "sim") + " <root>";
        for (const std::string& option : known) usage += " [" + option + " <value>]";
        std::fprintf(stderr, "%s\n", usage.c_str());
        return;
    }
    termination_.emplace();
}

std::optional<std::string> SimDeviceProgram::Option(const std::string& option) const {
    const auto it = options_.find(option);
    return it != options_.end() ? std::optional<std::string>(it->second) : std::nullopt;
}

void SimDeviceProgram::Say(const std::string& line) const {
    std::printf("%s: %s\n", name_.c_str(), line.c_str());
    std::fflush(stdout);  // read by the run command while the program runs
}

int SimDeviceProgram::Fail(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), what.c_str());
    return 1;
}

void SimDeviceProgram::WaitToEnd() {
    if (termination_) termination_->Wait();
}
