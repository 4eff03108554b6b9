#include "AdditionalTexts.h"

void AdditionalTexts::Add(int alertNo, int no, const std::wstring& text) {
    std::lock_guard lock(m_lock);
    m_texts.push_back({alertNo, no, text});
}

std::vector<AdditionalText> AdditionalTexts::Get() const {
    std::lock_guard lock(m_lock);
    return m_texts;
}
