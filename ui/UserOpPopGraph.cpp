#include "UserOpPopGraph.h"

CUserOpPopGraph::CUserOpPopGraph(const char*, const char*) { Init(); }
