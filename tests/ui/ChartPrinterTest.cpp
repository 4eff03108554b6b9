#include "ChartPrinter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TiXmlElement Element(const char* name, const char* label) {
    TiXmlElement element(name);
    element.SetAttribute("label", label);
    return element;
}

// Printed while written, nested containers with and without children and whole elements
// give the text of the same tree built first and printed at once.
TEST(ChartPrinterTest, PrintingWhileWritingGivesTheTextOfTheWholeTree) {
    TiXmlElement root = Element("chart", "r");
    TiXmlElement full = Element("dataset", "a<&\"");
    full.InsertEndChild(Element("set", "1"));
    full.InsertEndChild(Element("set", "2"));
    TiXmlElement zones("trendLines");
    zones.InsertEndChild(Element("line", "z"));
    root.InsertEndChild(full);
    root.InsertEndChild(Element("dataset", "empty"));
    root.InsertEndChild(zones);
    std::string wholeText;
    ChartPrinter whole(wholeText);
    whole.Add(root);

    std::string writtenText = "left from before";
    ChartPrinter written(writtenText);
    written.Open(Element("chart", "r"), true);
    written.Open(Element("dataset", "a<&\""), true);
    for (const char* label : {"1", "2"}) written.Add(Element("set", label));
    written.Close();
    written.Open(Element("dataset", "empty"), false);
    written.Close();
    written.Add(zones);
    written.Close();
    EXPECT_EQ(writtenText, wholeText);
    EXPECT_EQ(wholeText,
              "<chart label=\"r\">\n"
              "    <dataset label='a&lt;&amp;&quot;'>\n"
              "        <set label=\"1\" />\n"
              "        <set label=\"2\" />\n"
              "    </dataset>\n"
              "    <dataset label=\"empty\" />\n"
              "    <trendLines>\n"
              "        <line label=\"z\" />\n"
              "    </trendLines>\n"
              "</chart>\n");
}

// The library's printer is the reference: a tree it prints is printed the same, byte for
// byte, attributes in the order they were set, with their escaping and quotes.
TEST(ChartPrinterTest, TheTextIsTheLibraryPrintersText) {
    TiXmlElement root = Element("chart", "\xb0\xa1 & 'x'");
    root.SetAttribute("second", "<\"'>");
    TiXmlElement nested("categories");
    for (const char* label : {"", "a\tb", "\x01"}) nested.InsertEndChild(Element("category", label));
    TiXmlElement deeper("group");
    deeper.InsertEndChild(nested);
    root.InsertEndChild(deeper);
    root.InsertEndChild(TiXmlElement("empty"));
    TiXmlPrinter library;
    library.SetIndent("    ");
    library.SetLineBreak("\n");
    root.Accept(&library);

    std::string text;
    ChartPrinter(text).Add(root);
    EXPECT_EQ(text, library.Str());
}

}  // namespace
