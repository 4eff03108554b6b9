// The client's position in the focus-article (today's news) stream.
#pragma once

#include "ScriptVM.h"
#include "articleStream.h"

class CFocusArticle : public CArticleStream {
public:
    CFocusArticle();

    // Defines the empty "focusArticle" on a page's VM; 1.
    int RegisterScriptObject(HVM vm);
};

extern CFocusArticle* g_pFocusArticle;
