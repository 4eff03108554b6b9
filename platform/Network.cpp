#include "Network.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "Hooks.h"

namespace {

constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK

std::string ReadFirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

struct Adapter {
    int index;
    std::string address;
};

}  // namespace

bool FirstAdapterAddress(std::array<BYTE, 6>& address) {
    const auto root = Hooks().sysfsRoot / "class" / "net";
    std::error_code ec;
    std::vector<Adapter> adapters;
    for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
        if (std::atoi(ReadFirstLine(entry.path() / "type").c_str()) == kLoopbackType) continue;
        const std::string mac = ReadFirstLine(entry.path() / "address");
        if (mac.empty()) continue;
        adapters.push_back({std::atoi(ReadFirstLine(entry.path() / "ifindex").c_str()), mac});
    }
    if (adapters.empty()) return false;
    const auto first = std::min_element(adapters.begin(), adapters.end(),
                                        [](const Adapter& a, const Adapter& b) { return a.index < b.index; });
    unsigned bytes[6];
    if (std::sscanf(first->address.c_str(), "%x:%x:%x:%x:%x:%x", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                    &bytes[4], &bytes[5]) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) address[i] = static_cast<BYTE>(bytes[i]);
    return true;
}
