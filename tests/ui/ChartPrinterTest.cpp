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
    ChartPrinter whole;
    whole.Add(root);

    ChartPrinter written;
    written.Open(Element("chart", "r"), true);
    written.Open(Element("dataset", "a<&\""), true);
    for (const char* label : {"1", "2"}) written.Add(Element("set", label));
    written.Close();
    written.Open(Element("dataset", "empty"), false);
    written.Close();
    written.Add(zones);
    written.Close();
    EXPECT_EQ(written.Text(), whole.Text());
    EXPECT_EQ(whole.Text(),
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

}  // namespace
