// Build tool: stores a page or script file in the scrambled form the program reads.
// scramble_content IN OUT [keyRow]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "TelmarScript.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: scramble_content IN OUT [keyRow]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> payload((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int keyRow = argc > 3 ? std::atoi(argv[3]) & 0xFF : 7;
    const auto scrambled = TelmarScriptEncode(payload, static_cast<std::uint8_t>(keyRow));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(scrambled.data()), static_cast<std::streamsize>(scrambled.size()));
    return out ? 0 : 1;
}
