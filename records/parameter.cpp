#include "parameter.h"

CParameter* g_pParameter = nullptr;

CParameter::CParameter() = default;

int CParameter::ReadParameterFromDB() { return 1; }
