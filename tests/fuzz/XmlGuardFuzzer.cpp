// The guard in front of TinyXML against TinyXML itself: every text the guard lets through
// gives a document within the guard's bounds (its depth, the attributes of any element,
// and its elements, comments and CDATA sections in all), read both ways the program reads
// outside XML (the sync reply as UTF-8, a model file one byte each). The bounds are small,
// so that inputs reach them. TinyXML parses on a thread with a small stack, so a recursion
// past the bound crashes at once instead of hiding in a main thread's 8 MB.
#include <pthread.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "XmlGuard.h"

namespace {

constexpr std::size_t kStackBytes = 256 * 1024;

// What the document holds, as the guard bounds it.
struct Shape {
    int depth = 0;
    int attributes = 0;  // on the element with the most
    int nodes = 0;
};

struct Parse {
    const std::string* text;
    TiXmlEncoding encoding;
    Shape shape;
};

int AttributeCount(const TiXmlElement& element) {
    int count = 0;
    for (const TiXmlAttribute* a = element.FirstAttribute(); a != nullptr; a = a->Next()) ++count;
    return count;
}

bool IsCounted(const TiXmlNode& node) {
    const TiXmlText* text = node.ToText();
    return node.ToElement() != nullptr || node.ToComment() != nullptr || (text != nullptr && text->CDATA());
}

// Walked without recursion; a root is at depth 1.
Shape ShapeOf(const TiXmlDocument& document) {
    Shape shape;
    int depth = 1;
    const TiXmlNode* node = document.FirstChild();
    while (node != nullptr) {
        if (const TiXmlElement* element = node->ToElement()) {
            shape.depth = std::max(shape.depth, depth);
            shape.attributes = std::max(shape.attributes, AttributeCount(*element));
        }
        if (IsCounted(*node)) ++shape.nodes;
        if (node->FirstChild() != nullptr) {
            node = node->FirstChild();
            ++depth;
            continue;
        }
        while (node != &document && node->NextSibling() == nullptr) {
            node = node->Parent();
            --depth;
        }
        node = node == &document ? nullptr : node->NextSibling();
    }
    return shape;
}

void* RunParse(void* argument) {
    Parse& parse = *static_cast<Parse*>(argument);
    TiXmlDocument document;
    document.Parse(XmlParserText(*parse.text).c_str(), nullptr, parse.encoding);
    parse.shape = ShapeOf(document);
    return nullptr;
}

Shape ShapeOnASmallStack(const std::string& text, TiXmlEncoding encoding) {
    Parse parse{&text, encoding, {}};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStackBytes);
    pthread_t thread;
    fuzz::Require(pthread_create(&thread, &attributes, RunParse, &parse) == 0, "a parsing thread");
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return parse.shape;
}

void RequireWithin(const std::string& text, const XmlBounds& bounds, XmlBytes bytes, TiXmlEncoding encoding,
                   const char* what) {
    if (!XmlRefusal(text, bounds, bytes).empty()) return;
    const Shape shape = ShapeOnASmallStack(text, encoding);
    fuzz::Require(shape.depth <= bounds.depth && shape.attributes <= bounds.attributes && shape.nodes <= bounds.nodes,
                  what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The sync reply: UTF-8, a root and its rows.
    RequireWithin(text, {2, 3, 12}, XmlBytes::Utf8, TIXML_ENCODING_UTF8, "a reply past the guard's bounds");
    // A model file: past a byte-order mark, one byte each, at most 16 deep.
    RequireWithin(std::string(WithoutByteOrderMark(text)), {16, 3, 24}, XmlBytes::OneEach, TIXML_ENCODING_LEGACY,
                  "a model file past the guard's bounds");
    return 0;
}
