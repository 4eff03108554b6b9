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

TEST(XmlDepthTest, CountsOnlyOpenElements) {
    EXPECT_TRUE(XmlDepthWithin("<?xml version=\"1.0\"?><r a=\"1\"><row sql=\"x\"/><row/>text</r>", 2));
    EXPECT_TRUE(XmlDepthWithin(Nested(2), 2));
    EXPECT_FALSE(XmlDepthWithin(Nested(3), 2));
    EXPECT_TRUE(XmlDepthWithin("<r><!-- <a><a><a> --><![CDATA[<a><a><a>]]><!DOCTYPE x></r>", 1));
    EXPECT_FALSE(XmlDepthWithin(Nested(50000), 2));
}

// Markup that could hide an element's opening from a careless count.
TEST(XmlDepthTest, AQuotedEndInsideAnAttributeHidesNoOpening) {
    EXPECT_FALSE(XmlDepthWithin(Nested(3, "<a x=\"/>\">"), 2));
    EXPECT_FALSE(XmlDepthWithin(Nested(3, "<a x = '>'>"), 2));
    // A processing instruction ends at its first '>' for the parser too.
    EXPECT_FALSE(XmlDepthWithin("<?pi > <a><a><a> ?>", 2));
}

}  // namespace
