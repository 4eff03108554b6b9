#include "ChartPrinter.h"

ChartPrinter::ChartPrinter() {
    printer_.SetIndent("    ");
    printer_.SetLineBreak("\n");
    parent_.InsertEndChild(TiXmlElement("child"));
}

TiXmlElement& ChartPrinter::Stand(const std::string& name, bool withChildren) {
    TiXmlElement& stand = withChildren ? parent_ : leaf_;
    stand.SetValue(name);
    return stand;
}

void ChartPrinter::Open(const TiXmlElement& element, bool withChildren) {
    open_.emplace_back(element.ValueStr(), withChildren);
    printer_.VisitEnter(Stand(element.ValueStr(), withChildren), element.FirstAttribute());
}

void ChartPrinter::Close() {
    if (open_.empty()) return;
    const auto [name, withChildren] = std::move(open_.back());
    open_.pop_back();
    printer_.VisitExit(Stand(name, withChildren));
}

void ChartPrinter::Add(const TiXmlElement& element) { element.Accept(&printer_); }
