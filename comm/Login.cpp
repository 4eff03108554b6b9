#include "Communication.h"

#include "CxLog.h"

// The login exchange itself comes with the login requests; until then the account
// is only kept for the pages to read.
int CCommunication::UserLogin_asyn(const std::wstring& account, const std::wstring& password, bool rememberPassword,
                                   bool autoLoginWhenRun) {
    SetLoginAccount(account);
    SetLoginPassword(password);
    m_bRememberPassword = rememberPassword;
    m_bAutoLoginWhenRun = autoLoginWhenRun;
    LOGF(LOG_MESSAGE, L"CCommunication::UserLogin_asyn", L"UserLogin_asyn[%s]", account.c_str());
    return 0;
}
