// The selector subset the engine understands, parsed once per call and matched
// against nodes under the engine's lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "internal/State.h"

namespace uie::detail {

struct AttributeTest {
    std::string name;
    std::optional<std::wstring> value;  // none: presence only
};

struct Compound {
    std::string tag;  // empty or "*": any
    std::vector<std::wstring> ids;
    std::vector<std::wstring> classes;
    std::vector<AttributeTest> attributes;
    UINT states = 0;
    bool root = false;  // :root, the scope element
};

// Compounds from left to right; combinators[i] joins parts[i] and parts[i + 1]
// and is ' ' (descendant) or '>' (child).
struct Complex {
    std::vector<Compound> parts;
    std::vector<char> combinators;
};

using SelectorList = std::vector<Complex>;

std::optional<SelectorList> ParseSelector(std::string_view text);
// Ancestors are looked for only inside the node's own document.
bool Matches(const SelectorList& list, const Node& node, const Node& scope);

}  // namespace uie::detail
