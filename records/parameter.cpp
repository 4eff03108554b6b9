#include "parameter.h"

CParameter* g_pParameter = nullptr;

CParameter::CParameter() = default;

int CParameter::ReadParameterFromDB() { return 1; }

int CParameter::BussDataProc(const std::wstring&) { return 0; }

std::optional<struParameterW> CParameter::GetParameterByIndex(int) const { return std::nullopt; }
