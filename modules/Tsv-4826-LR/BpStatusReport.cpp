#include "BpStatusReport.h"

#include <array>
#include <cstdio>

#include "Text.h"

namespace {

// In the order of BpText.
constexpr const wchar_t* kTexts[] = {
    L"系统错误(NULL)!",
    L"系统错误!",
    L"设备忙.",
    L"正在读取设备数据...",
    L"初始化设备失败!",
    L"打开设备失败!",
    L"StartDownload...",
    L"StartDownload......",
    L"读取设备数据失败!",
    L"Vep_GetStatus失败.",
    L"全部下载成功.",
};
constexpr std::size_t kTextCount = std::size(kTexts);
static_assert(kTextCount == static_cast<std::size_t>(BpText::AllDone) + 1);

// Converted once, through the program's one code-page conversion.
std::array<std::string, kTextCount> ConvertTexts() {
    std::array<std::string, kTextCount> texts;
    for (std::size_t i = 0; i < kTextCount; ++i) texts[i] = text::ToAnsi(kTexts[i]);
    return texts;
}

const char* StateText(BpState state) {
    switch (state) {
        case BpState::Running:
            return "1";
        case BpState::Failed:
            return "2";
        case BpState::Finished:
            return "3";
    }
    return "2";
}

}  // namespace

const std::string& CBpStatusReport::Text(BpText text) {
    static const std::array<std::string, kTextCount> texts = ConvertTexts();
    return texts[static_cast<std::size_t>(text)];
}

void CBpStatusReport::Report(BpState state, BpText text, int percent) const {
    const DataProcStatusCallBack callback = callback_.load();
    if (callback == nullptr) return;
    char precent[12];
    std::snprintf(precent, sizeof(precent), "%d", percent);
    callback(StateText(state), Text(text).c_str(), "-1", "-1", precent);
}
