// A tolerant HTML parser: enough of the language for the program's pages.
#pragma once

#include <memory>
#include <string_view>

#include "internal/State.h"

namespace uie::detail {

// Parses UTF-8 bytes (a byte-order mark is skipped) into an element tree whose root
// is the html element, made up when the page has none. Never fails.
std::shared_ptr<Node> ParseHtml(std::string_view bytes);

}  // namespace uie::detail
