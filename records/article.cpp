#include "article.h"

#include <memory>

CArticle* g_pArticle = nullptr;

CArticle::CArticle() = default;

void CArticle::LoadFromDB() {}

int CArticle::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "article", def);
    return 1;
}
