#include "HealthElementDataGraph.h"

CHealthElementDataGraph::CHealthElementDataGraph(const char*, const char*) { Init(); }
