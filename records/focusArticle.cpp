#include "focusArticle.h"

#include <memory>

CFocusArticle* g_pFocusArticle = nullptr;

CFocusArticle::CFocusArticle()
    : CArticleStream(L"tFocusArticle", L"ifnull(max(focusArticleNo),0)", L"ifnull(max(focusArticleDeletedRecNo),0)",
                     L"focusArticleDeletedRecNo") {}

int CFocusArticle::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "focusArticle", def);
    return 1;
}
