#include "XmlGuard.h"

#include <cstddef>

namespace {

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The place just past the first `end` at or after `from`, or the text's end.
std::size_t After(std::string_view text, std::size_t from, std::string_view end) {
    const std::size_t at = text.find(end, from);
    return at == std::string_view::npos ? text.size() : at + end.size();
}

// Reads a start tag from just past its name. A quoted attribute value may hold '>' and
// "/>", so quotes after '=' are skipped whole. Sets `empty` for a "/>" end.
std::size_t SkipStartTag(std::string_view text, std::size_t at, bool& empty) {
    empty = false;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '>') return at + 1;
        if (c == '/' && at + 1 < text.size() && text[at + 1] == '>') {
            empty = true;
            return at + 2;
        }
        ++at;
        if (c != '=') continue;
        while (at < text.size() && IsSpace(text[at])) ++at;
        if (at < text.size() && (text[at] == '"' || text[at] == '\'')) at = After(text, at + 1, text.substr(at, 1));
    }
    return at;
}

}  // namespace

std::string XmlParserText(std::string_view text) {
    // A step takes at most a four-byte sequence: past the end it meets only NULs.
    constexpr std::size_t kPadding = 8;
    std::string padded(text.substr(0, text.find('\0')));
    padded.append(kPadding, '\0');
    return padded;
}

bool XmlDepthWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        if (rest.starts_with("<!--")) {
            at = After(text, at + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            at = After(text, at + 9, "]]>");
        } else if (rest.starts_with("</")) {
            if (depth > 0) --depth;
            at = After(text, at + 2, ">");
        } else if (rest.size() > 1 && IsNameStart(static_cast<unsigned char>(rest[1]))) {
            bool empty = false;
            at = SkipStartTag(text, at + 1, empty);
            if (!empty && ++depth > maxDepth) return false;
        } else {
            // Declarations, processing instructions and anything TinyXML does not know
            // end at the first '>'.
            at = After(text, at + 1, ">");
        }
    }
    return true;
}
