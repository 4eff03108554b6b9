// What the chart benchmarks share: records made as the pages hand them over, and the
// pair of figures every chart writer gives: the writer, and its floor, the XML library's
// printer alone printing the same document (parsed from the writer's, before timing)
// with the writers' layout, taking turns in every iteration. The floor fails unless its
// text is the writer's byte for byte.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include "Value.h"

namespace bench {

// A script map of the members, in their order.
uie::value Object(std::initializer_list<std::pair<const wchar_t*, uie::value>> members);

// Writes one chart document into its argument.
using ChartWrite = std::function<void(std::string& xml)>;

// Times write, one document per iteration, in turns with the floor printing its document: the
// time is the writer's, `ratio` the writer's over the floor's (the benchmark uses manual time).
void TimeChart(benchmark::State& state, const ChartWrite& write);

}  // namespace bench
