// What the engine learns from a page's script text without running it.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace uie::detail {

// Adds the names declared as "function Name(" in UTF-8 script text. Only the shape is
// read: comments and strings are not told apart from code.
void CollectDeclaredFunctions(std::string_view script, std::set<std::string, std::less<>>& names);

}  // namespace uie::detail
