// A guard in front of TinyXML, whose parser recurses once per nested element: a document
// nested tens of thousands deep overflows the stack of whatever thread parses it.
#pragma once

#include <string_view>

// Whether no element of the XML text is nested deeper than maxDepth (a root alone is
// depth 1). One pass, constant stack. Markup is read the way TinyXML reads it, and where
// the two could differ the count errs high, so a text this accepts cannot nest deeper.
bool XmlDepthWithin(std::string_view text, int maxDepth);
