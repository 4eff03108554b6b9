#include "MessageWin.h"

CMessageWin* g_pMessageWin = nullptr;

void AdditionalTexts::Add(int alertNo, int no, const std::wstring& text) {
    std::lock_guard lock(m_lock);
    m_texts.push_back({alertNo, no, text});
}

std::vector<AdditionalText> AdditionalTexts::Get() const {
    std::lock_guard lock(m_lock);
    return m_texts;
}

CMessageWin::CMessageWin(const std::wstring& page) {
    m_cs.name = L"MessageWin";
    m_cs.page = page;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
}

int CMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    m_additional.Add(alertNo, no, text);
    return 1;
}
