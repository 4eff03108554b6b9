#include "AlertMessageWin.h"

CAlertMessageWin* g_pAlertMessageWin = nullptr;

int CAlertMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    std::lock_guard lock(m_lock);
    m_additional.push_back({alertNo, no, text});
    return 1;
}

std::vector<AdditionalText> CAlertMessageWin::GetAdditionalMessages() const {
    std::lock_guard lock(m_lock);
    return m_additional;
}
