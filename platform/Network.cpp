#include "Network.h"

#include <cstdlib>
#include <cstdio>
#include <string>
#include <system_error>

#include "Hooks.h"
#include "SmallFile.h"

namespace {

constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK
constexpr std::size_t kAttributeBytes = 256;

std::string ReadFirstLine(const std::filesystem::path& file) { return FirstLineOf(file, kAttributeBytes); }

// Six bytes, not all zero: tunnels give four or none, InfiniBand twenty, dummies zeros.
bool ParseHardwareAddress(const std::string& text, std::array<BYTE, 6>& address) {
    unsigned bytes[6];
    int used = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%n", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                    &bytes[4], &bytes[5], &used) != 6 ||
        static_cast<std::size_t>(used) != text.size()) {
        return false;
    }
    unsigned any = 0;
    for (int i = 0; i < 6; ++i) {
        address[i] = static_cast<BYTE>(bytes[i]);
        any |= bytes[i];
    }
    return any != 0;
}

}  // namespace

bool FirstAdapterAddress(std::array<BYTE, 6>& address) {
    const auto root = Hooks().sysfsRoot / "class" / "net";
    std::error_code ec;
    int firstIndex = 0;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
        if (std::atoi(ReadFirstLine(entry.path() / "type").c_str()) == kLoopbackType) continue;
        std::array<BYTE, 6> candidate{};
        if (!ParseHardwareAddress(ReadFirstLine(entry.path() / "address"), candidate)) continue;
        const int index = std::atoi(ReadFirstLine(entry.path() / "ifindex").c_str());
        if (found && index >= firstIndex) continue;
        found = true;
        firstIndex = index;
        address = candidate;
    }
    return found;
}
