#include "GraphFlash.h"

#include <tinyxml.h>

std::string CGraphFlash::PrintDocument(const TiXmlDocument& document) {
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    document.Accept(&printer);
    return printer.Str();
}
