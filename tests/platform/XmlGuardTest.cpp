#include "XmlGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Nested(int depth, const std::string& open = "<a>") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}

TEST(XmlRefusalTest, CountsOnlyOpenElements) {
    EXPECT_EQ(XmlRefusal("<?xml version=\"1.0\" encoding=\"GBK\"?><r a=\"1\"><row sql=\"&lt;x&gt;\"/><row/>text</r>", {2}),
              "");
    EXPECT_EQ(XmlRefusal("<r><!-- <a><a><a> --><![CDATA[<a><a><a>]]></r>", {1}), "");
    EXPECT_EQ(XmlRefusal(Nested(2), {2}), "");
    EXPECT_EQ(XmlRefusal(Nested(3), {2}), "nested deeper than 2 at line 1, column 6");
    EXPECT_EQ(XmlRefusal(Nested(3, "<a x=\"/>\">"), {2}).substr(0, 20), "nested deeper than 2");
}

// Where TinyXML reads markup differently, the text is refused rather than counted.
TEST(XmlRefusalTest, MarkupTheParserReadsDifferentlyIsRefused) {
    EXPECT_EQ(XmlRefusal("<!DOCTYPE r [<!ENTITY e \"<a>\">]><r/>", {2}), "a document type declaration at line 1, column 12");
    EXPECT_EQ(XmlRefusal("<r><?pi > " + Nested(3) + " ?></r>", {9}), "a processing instruction at line 1, column 3");
    // For TinyXML the declaration's value holds the end tags: five levels, not three.
    EXPECT_NE(XmlRefusal("<r><a><a><?xml version=\"></a></a>\"?>" + Nested(2) + "</a></a></r>", {3}), "");
    EXPECT_EQ(XmlRefusal("<r>\xF0</r>", {2}).substr(0, 15), "not well-formed");
    EXPECT_EQ(XmlRefusal(std::string("<r/>\0", 5), {2}), "a NUL byte at offset 4, where the text would end (UTF-16?)");
    EXPECT_EQ(XmlRefusal("<\x7F/>", {2}).substr(0, 15), "not well-formed");
    EXPECT_EQ(XmlRefusal("", {2}), "no element found at line 1, column 0");
}

}  // namespace
