// A chart document printed as the XML library's printer prints it, while it is written:
// four spaces per level, one element per line, no declaration. The text is the same as
// that of the whole document built first and printed after, but a chart of thousands of
// records never holds them all as elements: each row is printed as soon as it is made.
// Rows that all set the same attributes may share one element, whose values are replaced
// in place, so that nothing is allocated per row. The text goes straight into the
// caller's string, which grows once (Reserve) instead of being copied out at the end.
// Charts hold elements only: text, comments and declarations are never printed.
//
//   ChartPrinter out(xmlOut);
//   out.Reserve(rows * bytesPerRow);
//   out.Open(root, true);  // root's attributes are final before its tag is printed
//   TiXmlElement set("set");
//   for (...) { set.SetAttribute("value", ...); out.Add(set); }
//   out.Close();
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class ChartPrinter {
public:
    // Prints into `text`, emptied first.
    explicit ChartPrinter(std::string& text);
    ChartPrinter(const ChartPrinter&) = delete;
    ChartPrinter& operator=(const ChartPrinter&) = delete;

    // Room for the whole document, so that a long one is not moved while it grows.
    void Reserve(std::size_t bytes) { text_.reserve(bytes); }

    // Prints element's start tag and attributes, not its children. With children, those
    // printed until the matching Close are its children and Close prints its end tag;
    // without, the element is printed whole ("<name ... />") and Close prints nothing.
    void Open(const TiXmlElement& element, bool withChildren);
    void Close();
    // A whole element with the child elements it holds.
    void Add(const TiXmlElement& element);

    const std::string& Text() const { return text_; }

private:
    // One level per element opened and not closed.
    void Indent();
    // The indentation, "<name" and the attributes, each printed by the library.
    void StartTag(const TiXmlElement& element);
    void EndTag(const std::string& name);

    std::string& text_;
    std::vector<std::pair<std::string, bool>> open_;  // name, with children; one level each
};
