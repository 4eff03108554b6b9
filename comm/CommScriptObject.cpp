// The script object "comm": a read-only view of the communication object's login
// and network state for the pages. Nothing is kept in the object itself.
#include <memory>

#include "Communication.h"

namespace {

uie::value ReadInt(int (*read)(const CCommunication&)) {
    return uie::value(g_pCommunication != nullptr ? read(*g_pCommunication) : 0);
}

// Built once for the life of the process; every page's VM shares it.
std::shared_ptr<const uie::NativeObjectDef> CommObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->properties = {
            {"net_State",
             [](HVM, const uie::NativeArgs&) {
                 return ReadInt([](const CCommunication& c) { return c.IsOnline() ? 1 : 0; });
             },
             {}},
            {"login_State",
             [](HVM, const uie::NativeArgs&) {
                 return ReadInt([](const CCommunication& c) { return c.m_nLoginState.load(); });
             },
             {}},
            {"loginRet_retMsg",
             [](HVM, const uie::NativeArgs&) {
                 return uie::value(g_pCommunication != nullptr ? g_pCommunication->GetStatusText() : std::wstring());
             },
             {}},
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

bool CCommunication::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "comm", CommObjectDef()); }
