#include "BmiTool.h"

CBmiTool::CBmiTool(const char*, const char*) { Init(); }
