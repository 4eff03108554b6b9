// A chart document printed by the XML library's printer while it is written: four spaces
// per level, one element per line, no declaration. The text is the same as that of the
// whole document built first and printed after, but a chart of thousands of records never
// holds them all as elements: each row is printed as soon as it is made. Rows that all set
// the same attributes may share one element, whose values are replaced in place, so that
// nothing is allocated per row.
//
//   ChartPrinter out;
//   out.Open(root, true);  // root's attributes are final before its tag is printed
//   TiXmlElement set("set");
//   for (...) { set.SetAttribute("value", ...); out.Add(set); }
//   out.Close();
//   xmlOut = out.Text();
#pragma once

#include <tinyxml.h>

#include <string>
#include <utility>
#include <vector>

class ChartPrinter {
public:
    ChartPrinter();
    ChartPrinter(const ChartPrinter&) = delete;
    ChartPrinter& operator=(const ChartPrinter&) = delete;

    // Prints element's start tag and attributes, not its children. With children, those
    // printed until the matching Close are its children and Close prints its end tag;
    // without, the element is printed whole ("<name ... />") and Close prints nothing.
    void Open(const TiXmlElement& element, bool withChildren);
    void Close();
    // A whole element with the children it holds.
    void Add(const TiXmlElement& element);

    const std::string& Text() { return printer_.Str(); }

private:
    // The printer writes an element's end tag, and opens its start tag, only when the
    // element has children: these stand in for an open element with and without them.
    TiXmlElement& Stand(const std::string& name, bool withChildren);

    TiXmlPrinter printer_;
    TiXmlElement parent_{""};
    TiXmlElement leaf_{""};
    std::vector<std::pair<std::string, bool>> open_;  // name, with children
};
