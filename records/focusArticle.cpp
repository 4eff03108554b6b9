#include "focusArticle.h"

#include <memory>

CFocusArticle* g_pFocusArticle = nullptr;

CFocusArticle::CFocusArticle() = default;

void CFocusArticle::LoadFromDB() {}

int CFocusArticle::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "focusArticle", def);
    return 1;
}
