#include "ChartBenchSupport.h"

#include <tinyxml.h>

#include "BenchSupport.h"

namespace bench {

namespace {

// The writers' layout: four spaces per level, one element per line.
void Print(const TiXmlDocument& document, TiXmlPrinter& printer) {
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    document.Accept(&printer);
}

}  // namespace

uie::value Object(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    uie::value map = uie::value::make_map();
    for (const auto& [key, v] : members) map.set_item(uie::value(key), v);
    return map;
}

void TimeChart(benchmark::State& state, const ChartWrite& write) {
    std::string written;
    write(written);
    TiXmlDocument document;
    // The documents are in the system code page: read byte for byte, never as UTF-8.
    document.Parse(written.c_str(), nullptr, TIXML_ENCODING_LEGACY);
    TiXmlPrinter check;
    Print(document, check);
    if (document.Error() || check.Str() != written) {
        state.SkipWithError("the printer's text is not the writer's");
        return;
    }
    bench::InTurns(
        state,
        [&write] {
            // A fresh string per document, as the program's callers hand one in.
            std::string xml;
            return bench::Seconds([&] {
                write(xml);
                benchmark::DoNotOptimize(xml.data());
                return true;
            });
        },
        [&document] {
            TiXmlPrinter printer;  // starts with an empty text, as the writer's string does
            return bench::Seconds([&] {
                Print(document, printer);
                benchmark::DoNotOptimize(printer.CStr());
                return true;
            });
        },
        "the writer failed");
    state.SetItemsProcessed(state.iterations());  // documents
    state.counters["bytes_per_doc"] = static_cast<double>(written.size());
}

}  // namespace bench
