// Guards in front of TinyXML for text from outside. Its parser recurses once per nested
// element, so a document nested tens of thousands deep overflows the stack of whatever
// thread parses it; and it takes a UTF-8 lead byte's whole sequence in one step, so a text
// that ends inside a sequence is read past its end.
#pragma once

#include <string>
#include <string_view>

// Why the parser must not be handed the XML text, or empty when it may. The text is read
// first by a parser that keeps its nesting on the heap (expat): it must be well-formed
// UTF-8 without a document type or processing instruction (the two places where TinyXML
// reads markup differently), and no element may lie deeper than maxDepth (a root alone is
// depth 1). On such a text TinyXML sees the same elements, so it recurses no deeper.
std::string XmlRefusal(std::string_view text, int maxDepth);

// The text as the parser may be handed it: cut at its first NUL, as the parser reads it,
// and followed by enough NULs that no step of the parser leaves the buffer.
std::string XmlParserText(std::string_view text);
