// The script value reader over arbitrary UTF-8 text. A value it accepts must print as
// JSON that reads back as the same value, since values cross between pages and native
// code as that text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Text.h"
#include "Value.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::EnterWorkDir(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = text::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::wstring error;
    const std::optional<uie::value> read = uie::value::from_json(text, &error);
    if (!read) {
        fuzz::Require(!error.empty(), "a refused text without a reason");
        return 0;
    }
    const std::wstring printed = read->to_json();
    const std::optional<uie::value> again = uie::value::from_json(printed);
    fuzz::Require(again.has_value(), "printed JSON that does not read back");
    fuzz::Require(*again == *read, "printed JSON that reads back as another value");
    fuzz::Require(again->to_json() == printed, "a value that prints two ways");
    read->to_string();
    return 0;
}
