#include "ChartPrinter.h"

namespace {

constexpr char kIndent[] = "    ";

// Whether the library's escaping leaves the text as it is: no markup character, no
// quote and no control character.
bool Plain(const std::string& text) {
    for (const unsigned char c : text) {
        if (c < 32 || c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return false;
    }
    return true;
}

}  // namespace

ChartPrinter::ChartPrinter(std::string& text) : text_(text) { text_.clear(); }

void ChartPrinter::Indent() {
    for (std::size_t level = 0; level < open_.size(); ++level) text_ += kIndent;
}

void ChartPrinter::StartTag(const TiXmlElement& element) {
    Indent();
    text_ += '<';
    text_ += element.ValueStr();
    for (const TiXmlAttribute* a = element.FirstAttribute(); a != nullptr; a = a->Next()) {
        text_ += ' ';
        if (!Plain(a->NameTStr()) || !Plain(a->ValueStr())) {
            a->Print(nullptr, 0, &text_);  // the library's escaping and choice of quotes
            continue;
        }
        // What the library prints for plain text, without its copies of both.
        text_ += a->NameTStr();
        text_ += "=\"";
        text_ += a->ValueStr();
        text_ += '"';
    }
}

void ChartPrinter::EndTag(const std::string& name) {
    Indent();
    text_ += "</";
    text_ += name;
    text_ += ">\n";
}

void ChartPrinter::Open(const TiXmlElement& element, bool withChildren) {
    StartTag(element);
    text_ += withChildren ? ">\n" : " />\n";
    open_.emplace_back(element.ValueStr(), withChildren);
}

void ChartPrinter::Close() {
    if (open_.empty()) return;
    const auto [name, withChildren] = std::move(open_.back());
    open_.pop_back();
    if (withChildren) EndTag(name);
}

void ChartPrinter::Add(const TiXmlElement& element) {
    const TiXmlElement* child = element.FirstChildElement();
    Open(element, child != nullptr);
    for (; child != nullptr; child = child->NextSiblingElement()) Add(*child);
    Close();
}
