// The guard in front of TinyXML against TinyXML itself: every text the guard lets through
// gives a document no deeper than the guard's bound, read both ways the program reads
// outside XML (the sync reply as UTF-8, a model file one byte each). TinyXML
// parses on a thread with a small stack, so a recursion past the bound crashes at once
// instead of hiding in a main thread's 8 MB.
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

struct Parse {
    const std::string* text;
    TiXmlEncoding encoding;
    int depth = 0;
};

// The deepest element's level, a root being 1, walked without recursion.
int ElementDepth(const TiXmlDocument& document) {
    int deepest = 0;
    int depth = 1;
    const TiXmlNode* node = document.FirstChild();
    while (node != nullptr) {
        if (node->ToElement() != nullptr) deepest = std::max(deepest, depth);
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
    return deepest;
}

void* RunParse(void* argument) {
    Parse& parse = *static_cast<Parse*>(argument);
    TiXmlDocument document;
    document.Parse(XmlParserText(*parse.text).c_str(), nullptr, parse.encoding);
    parse.depth = ElementDepth(document);
    return nullptr;
}

int DepthOnASmallStack(const std::string& text, TiXmlEncoding encoding) {
    Parse parse{&text, encoding};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStackBytes);
    pthread_t thread;
    fuzz::Require(pthread_create(&thread, &attributes, RunParse, &parse) == 0, "a parsing thread");
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return parse.depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The sync reply: UTF-8, nested at most 2 deep.
    if (XmlRefusal(text, 2).empty())
        fuzz::Require(DepthOnASmallStack(text, TIXML_ENCODING_UTF8) <= 2, "a reply deeper than the guard's bound");
    // A model file: past a byte-order mark, one byte each, at most 16 deep.
    const std::string body(WithoutByteOrderMark(text));
    if (XmlRefusal(body, 16, XmlBytes::OneEach).empty())
        fuzz::Require(DepthOnASmallStack(body, TIXML_ENCODING_LEGACY) <= 16, "a model file deeper than the guard's bound");
    return 0;
}
