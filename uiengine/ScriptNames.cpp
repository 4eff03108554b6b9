#include "internal/ScriptNames.h"

namespace uie::detail {
namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$'; }

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::size_t SkipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    return i;
}

}  // namespace

void CollectDeclaredFunctions(std::string_view script, std::set<std::string, std::less<>>& names) {
    constexpr std::string_view kKeyword = "function";
    for (std::size_t at = script.find(kKeyword); at != std::string_view::npos; at = script.find(kKeyword, at + 1)) {
        if (at > 0 && IsNameChar(script[at - 1])) continue;  // "myfunction x("
        const std::size_t afterKeyword = at + kKeyword.size();
        const std::size_t start = SkipSpace(script, afterKeyword);
        // No blank after the keyword: "functionX(" is another word, "function(" has no name.
        if (start == afterKeyword || start >= script.size() || !IsNameStart(script[start])) continue;
        std::size_t end = start;
        while (end < script.size() && IsNameChar(script[end])) ++end;
        const std::size_t open = SkipSpace(script, end);
        if (open < script.size() && script[open] == '(') names.emplace(script.substr(start, end - start));
    }
}

}  // namespace uie::detail
