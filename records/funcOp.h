// How often the user has opened each function.
#pragma once

class CFuncOp {
public:
    CFuncOp();

    bool ReadFuncOpFromDB();
};

extern CFuncOp* g_pFuncOp;
