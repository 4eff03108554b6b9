#include "funcOp.h"

CFuncOp* g_pFuncOp = nullptr;

CFuncOp::CFuncOp() = default;

bool CFuncOp::ReadFuncOpFromDB() { return true; }

int CFuncOp::BussDataProc(const std::wstring&) { return 0; }
