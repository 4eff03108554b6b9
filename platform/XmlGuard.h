// Guards in front of TinyXML for text from outside. Its parser recurses once per nested
// element, so a document nested tens of thousands deep overflows the stack of whatever
// thread parses it; and it takes a UTF-8 lead byte's whole sequence in one step, so a text
// that ends inside a sequence is read past its end.
#pragma once

#include <string>
#include <string_view>

// Whether no element of the XML text is nested deeper than maxDepth (a root alone is
// depth 1). One pass, constant stack. Markup is read the way TinyXML reads it, and where
// the two could differ the count errs high, so a text this accepts cannot nest deeper.
bool XmlDepthWithin(std::string_view text, int maxDepth);

// The text as the parser may be handed it: cut at its first NUL, as the parser reads it,
// and followed by enough NULs that no step of the parser leaves the buffer.
std::string XmlParserText(std::string_view text);
