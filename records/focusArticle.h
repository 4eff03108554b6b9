// The client's position in the focus-article (today's news) stream.
#pragma once

#include "ScriptVM.h"

class CFocusArticle {
public:
    CFocusArticle();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);
};

extern CFocusArticle* g_pFocusArticle;
