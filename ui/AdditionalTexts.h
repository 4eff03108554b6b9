// The texts that the server's replies add to alert messages, kept by the window that
// shows those alerts.
#pragma once

#include <mutex>
#include <string>
#include <vector>

struct AdditionalText {
    int alertNo;
    int no;
    std::wstring text;
};

// Any thread.
class AdditionalTexts {
public:
    void Add(int alertNo, int no, const std::wstring& text);
    std::vector<AdditionalText> Get() const;

private:
    mutable std::mutex m_lock;
    std::vector<AdditionalText> m_texts;
};
