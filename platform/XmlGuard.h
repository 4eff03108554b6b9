// Guards in front of TinyXML for text from outside. Its parser recurses once per nested
// element, so a document nested tens of thousands deep overflows the stack of whatever
// thread parses it; and it takes a UTF-8 lead byte's whole sequence in one step, so a text
// that ends inside a sequence is read past its end.
#pragma once

#include <climits>
#include <string>
#include <string_view>

// How the parser is to read the text's bytes: as UTF-8 (TIXML_ENCODING_UTF8), or one
// character each whatever the text declares (TIXML_ENCODING_LEGACY), for files in an
// encoding of their own.
enum class XmlBytes { Utf8, OneEach };

// How much of a document the parser may be handed. Its document holds a node for each
// element, comment and CDATA section, at most one for each text between them, and one for
// each attribute; it checks each attribute of an element against all those before it.
struct XmlBounds {
    int depth;                    // a root alone is depth 1
    int attributes = INT_MAX;     // on any one element
    int nodes = INT_MAX;          // elements, comments and CDATA sections in all
};

// Why the parser must not be handed the XML text, or empty when it may. The text is read
// first by a parser that keeps its nesting on the heap (expat), in the same way the bytes
// are to be read and as far as they are to be read (up to a NUL, where a UTF-16 text has
// its first): it must be well-formed without a document type or processing instruction
// (the two places where TinyXML reads markup differently), and within the bounds. On such
// a text TinyXML sees the same elements, so it recurses no deeper and counts no more.
std::string XmlRefusal(std::string_view text, const XmlBounds& bounds, XmlBytes bytes = XmlBytes::Utf8);

// The text past a UTF-8 byte-order mark, which a text read one byte each would take as
// characters before its root.
std::string_view WithoutByteOrderMark(std::string_view text);

// The text as the parser may be handed it: cut at its first NUL, as the parser reads it,
// and followed by enough NULs that no step of the parser leaves the buffer.
std::string XmlParserText(std::string_view text);
