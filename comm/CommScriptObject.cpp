// The script object "comm": a read-only view of the communication object's login
// and network state for the pages, and the login page's way to start a login.
// Nothing is kept in the object itself.
#include <memory>

#include "Communication.h"

namespace {

// What Login answers while a login runs: anything but the 0 of a started login.
constexpr int kLoginBusy = -1;

uie::NativeProperty IntProperty(const char* name, int (*read)(const CCommunication&)) {
    return {name,
            [read](HVM, const uie::NativeArgs&) {
                return uie::value(g_pCommunication != nullptr ? read(*g_pCommunication) : 0);
            },
            {}};
}

uie::NativeProperty TextProperty(const char* name, std::wstring (*read)(const CCommunication&)) {
    return {name,
            [read](HVM, const uie::NativeArgs&) {
                return uie::value(g_pCommunication != nullptr ? read(*g_pCommunication) : std::wstring());
            },
            {}};
}

std::wstring TextOf(const uie::value& record, const wchar_t* key) {
    const uie::value v = record.get_item(uie::value(key));
    return v.is_string() ? v.get_string() : std::wstring();
}

uie::value Login(HVM, const uie::NativeArgs& args) {
    if (args.size() < 1) throw uie::ScriptError(L"parameter 1, expecting value");
    if (g_pCommunication == nullptr) return uie::value(kLoginBusy);
    // Test and set in one step: two pages pressing Login together start one login.
    int state = g_pCommunication->m_nLoginState.load();
    do {
        if (state == 1) return uie::value(kLoginBusy);
    } while (!g_pCommunication->m_nLoginState.compare_exchange_weak(state, 1));

    const uie::value record = args[0].nth(0);
    const std::wstring account = TextOf(record, L"LoginAccount");
    const std::wstring password = TextOf(record, L"LoginPassword");
    // Only the text "1" switches on: not true, not the number 1.
    const bool remember = TextOf(record, L"RememberPassword") == L"1";
    const bool autoLogin = TextOf(record, L"AutoLoginWhenRun") == L"1";
    return uie::value(g_pCommunication->UserLogin_asyn(account, password, remember, autoLogin));
}

// Built once for the life of the process; every page's VM shares it.
std::shared_ptr<const uie::NativeObjectDef> CommObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"Login", Login}};
        d->properties = {
            IntProperty("net_State", [](const CCommunication& c) { return c.IsOnline() ? 1 : 0; }),
            IntProperty("login_State", [](const CCommunication& c) { return c.m_nLoginState.load(); }),
            TextProperty("login_account", [](const CCommunication& c) { return c.GetLoginAccount(); }),
            TextProperty("login_password", [](const CCommunication& c) { return c.GetLoginPassword(); }),
            IntProperty("login_rememberPassword",
                        [](const CCommunication& c) { return c.m_bRememberPassword.load() ? 1 : 0; }),
            IntProperty("login_autoLoginWhenRun",
                        [](const CCommunication& c) { return c.m_bAutoLoginWhenRun.load() ? 1 : 0; }),
            IntProperty("loginRet_retCode", [](const CCommunication& c) { return c.m_nRetCode.load(); }),
            TextProperty("loginRet_retMsg", [](const CCommunication& c) { return c.GetStatusText(); }),
            IntProperty("loginRet_userNo", [](const CCommunication& c) { return c.m_nUserNo.load(); }),
            IntProperty("loginRet_areaNo", [](const CCommunication& c) { return c.m_nAreaNo.load(); }),
            IntProperty("loginRet_areaCodeNo", [](const CCommunication& c) { return c.m_nAreaCodeNo.load(); }),
            TextProperty("loginRet_ipAddrNote", [](const CCommunication& c) { return c.GetAddressNote(); }),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

bool CCommunication::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "comm", CommObjectDef()); }
