#include "AlertMessageWin.h"

CAlertMessageWin* g_pAlertMessageWin = nullptr;

int CAlertMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    m_additional.Add(alertNo, no, text);
    return 1;
}
