#include "ChartBenchSupport.h"

#include <tinyxml.h>

namespace bench {

namespace {

void Report(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations());  // documents
    state.counters["bytes_per_doc"] = static_cast<double>(bytes);
}

// A fresh string per document, as the program's callers hand one in, and as the floor's
// printer starts with an empty one.
void TimeWriter(benchmark::State& state, const ChartWrite& write) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string xml;
        write(xml);
        bytes = xml.size();
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, bytes);
}

// The writers' layout: four spaces per level, one element per line.
void Print(const TiXmlDocument& document, TiXmlPrinter& printer) {
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    document.Accept(&printer);
}

void TimePrintFloor(benchmark::State& state, const ChartWrite& write) {
    std::string written;
    write(written);
    TiXmlDocument document;
    // The documents are in the system code page: read byte for byte, never as UTF-8.
    document.Parse(written.c_str(), nullptr, TIXML_ENCODING_LEGACY);
    std::size_t bytes = 0;
    for (auto _ : state) {
        TiXmlPrinter printer;
        Print(document, printer);
        bytes = printer.Size();
        benchmark::DoNotOptimize(printer.CStr());
    }
    TiXmlPrinter check;
    Print(document, check);
    if (document.Error() || check.Str() != written) state.SkipWithError("the printer's text is not the writer's");
    Report(state, bytes);
}

}  // namespace

uie::value Object(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    uie::value map = uie::value::make_map();
    for (const auto& [key, v] : members) map.set_item(uie::value(key), v);
    return map;
}

void TimeChart(benchmark::State& state, bool printFloor, const ChartWrite& write) {
    printFloor ? TimePrintFloor(state, write) : TimeWriter(state, write);
}

}  // namespace bench
