#include "XmlGuard.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace {

// The parser takes lengths as int: a long text goes in pieces.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

struct Walk {
    XML_Parser parser = nullptr;
    XmlBounds bounds{0};
    int depth = 0;
    int nodes = 0;
    std::string refusal;
};

std::string Where(XML_Parser parser) {
    return " at line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
           std::to_string(XML_GetCurrentColumnNumber(parser));
}

// Handlers may still be called once the parser is stopped: the first refusal stands.
void Refuse(Walk& walk, const std::string& why) {
    if (!walk.refusal.empty()) return;
    walk.refusal = why + Where(walk.parser);
    XML_StopParser(walk.parser, XML_FALSE);
}

void CountNode(Walk& walk) {
    if (++walk.nodes > walk.bounds.nodes)
        Refuse(walk, "more than " + std::to_string(walk.bounds.nodes) + " elements, comments and CDATA sections");
}

void XMLCALL OnStart(void* data, const XML_Char*, const XML_Char** attributes) {
    Walk& walk = *static_cast<Walk*>(data);
    if (++walk.depth > walk.bounds.depth) Refuse(walk, "nested deeper than " + std::to_string(walk.bounds.depth));
    int count = 0;
    while (attributes[2 * count] != nullptr) ++count;
    if (count > walk.bounds.attributes) {
        Refuse(walk, "an element with " + std::to_string(count) + " attributes, more than " +
                         std::to_string(walk.bounds.attributes));
    }
    CountNode(walk);
}

void XMLCALL OnComment(void* data, const XML_Char*) { CountNode(*static_cast<Walk*>(data)); }

void XMLCALL OnCdataStart(void* data) { CountNode(*static_cast<Walk*>(data)); }

void XMLCALL OnEnd(void* data, const XML_Char*) { --static_cast<Walk*>(data)->depth; }

// TinyXML ends both at the first '>', where they may hold markup up to "?>" or "]>".
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    Refuse(*static_cast<Walk*>(data), "a document type declaration");
}

void XMLCALL OnInstruction(void* data, const XML_Char*, const XML_Char*) {
    Refuse(*static_cast<Walk*>(data), "a processing instruction");
}

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

std::string XmlRefusal(std::string_view text, const XmlBounds& bounds, XmlBytes bytes) {
    // The parser's text ends at a NUL; expat would go on, reading a UTF-16 text as such.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        return "a NUL byte at offset " + std::to_string(nul) + ", where the text would end (UTF-16?)";
    // The encoding given overrides what the text declares: a byte the parser would read as
    // part of a character must be one, and one it reads alone is one (ISO-8859-1 maps every
    // byte to a character of its own).
    const std::unique_ptr<XML_ParserStruct, ParserFree> parser(
        XML_ParserCreate(bytes == XmlBytes::Utf8 ? "UTF-8" : "ISO-8859-1"));
    if (!parser) return "no memory for the check";
    Walk walk;
    walk.parser = parser.get();
    walk.bounds = bounds;
    XML_SetUserData(parser.get(), &walk);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCommentHandler(parser.get(), OnComment);
    XML_SetStartCdataSectionHandler(parser.get(), OnCdataStart);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    XML_SetProcessingInstructionHandler(parser.get(), OnInstruction);
    std::size_t at = 0;
    do {
        const std::size_t piece = std::min(kPieceBytes, text.size() - at);
        const bool last = at + piece == text.size();
        if (XML_Parse(parser.get(), text.data() + at, static_cast<int>(piece), last) != XML_STATUS_OK) {
            if (!walk.refusal.empty()) return walk.refusal;
            return XML_ErrorString(XML_GetErrorCode(parser.get())) + Where(parser.get());
        }
        at += piece;
    } while (at < text.size());
    return {};
}

std::string_view WithoutByteOrderMark(std::string_view text) {
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

std::string XmlParserText(std::string_view text) {
    // A step takes at most a four-byte sequence: past the end it meets only NULs.
    constexpr std::size_t kPadding = 8;
    std::string padded(text.substr(0, text.find('\0')));
    padded.append(kPadding, '\0');
    return padded;
}
