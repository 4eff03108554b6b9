// The client's position in the subscription article stream.
#pragma once

#include "ScriptVM.h"

class CArticle {
public:
    CArticle();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CArticle* g_pArticle;
