// The keep-alive reply: the server's numbers of everything that changed, turned into
// the requests that fetch it; or the order to log in again or to end.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Communication.h"

#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "MainFrame.h"
#include "Quorvix.h"
#include "Text.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "realWeather.h"
#include "userExInfo.h"
#include "userInfo.h"
#include "weatherForecast.h"

namespace {

// Fields 1 to 21 always come; the parameter count in field 21 says how many follow,
// and the two deleted-record numbers come after the parameters.
constexpr int kFixedFields = 21;
constexpr int kTrailingFields = 2;

// Each field ends with the separator; a last field without one counts too.
std::vector<int> NumberFields(const std::wstring& reply) {
    std::vector<int> numbers;
    std::size_t begin = 0;
    while (begin < reply.size()) {
        std::size_t end = reply.find(L'\x02', begin);
        if (end == std::wstring::npos) end = reply.size();
        numbers.push_back(text::WToI(reply.substr(begin, end - begin).c_str()));
        begin = end + 1;
    }
    return numbers;
}

}  // namespace

int CCommunication::PluseCheckBussProc(const std::wstring& reply) {
    constexpr const wchar_t* kFn = L"CCommunication::PluseCheckBussProc";
    const std::vector<int> fields = NumberFields(reply);
    // field(n) is field number n, counted from 1; a missing one reads 0.
    const auto field = [&fields](int n) { return n >= 1 && n <= static_cast<int>(fields.size()) ? fields[n - 1] : 0; };
    const int code = records::ReplyResult(kFn, COMMAND_PLUSECHECK, reply);

    if (code < 0) {
        if (code == -1 || code == -2) {
            ReLogin_asyn(GetLoginAccount(), GetLoginPassword());
        } else if (code == -4) {
            ShellExecuteW(g_pMainFrame ? g_pMainFrame->GetHwnd() : nullptr, nullptr,
                          g_Config.m_config.updateHtml.c_str(), nullptr, nullptr, SW_HIDE);
            ForcedExit(0);
        }
        return 0;
    }

    // A short reply would read every missing number as 0 and ask for things that
    // never changed.
    if (static_cast<int>(fields.size()) < kFixedFields) {
        LOGF(LOG_WARNING, kFn, L"keep-alive reply with %d fields ignored", static_cast<int>(fields.size()));
        return 0;
    }
    for (int n = 1; n <= 20; ++n) m_nPluseCheckNo[static_cast<std::size_t>(n)] = field(n);

    if (g_pUserInfo != nullptr) {
        const int local = g_pUserInfo->KnownSyncNo();
        if (field(2) != local) QuestUserInfo_asyn(m_nUserNo, field(2), local);
    }
    if (g_pUserExInfo != nullptr) {
        const struUserExpW exp = g_pUserExInfo->GetUserExp();
        if (field(3) > 0 && field(3) != exp.syncNo) QuestUserExpInfo_asyn(exp.userNo, field(3), exp.syncNo);
    }
    if (g_pWeatherForecast != nullptr) {
        const int held = g_pWeatherForecast->m_nForecastMessNo;
        if (field(4) >= 0 && field(4) != held) QuestWeatherForecast_asyn(-1, -1, field(4), held);
    }
    if (g_pRealWeather != nullptr) {
        const int held = g_pRealWeather->m_nRealMessNo;
        if (field(5) >= 0 && field(5) != held) QuestWeatherLive_asyn(-1, -1, field(5), held);
    }
    if (g_pLifeIndex != nullptr) {
        const int held = g_pLifeIndex->m_nLiveIndexMessNo;
        if (field(6) >= 0 && field(6) != held) QuestLifeIndex_asyn(-1, -1, field(6), held);
    }

    if (g_pMainFrame != nullptr && g_pMainFrame->GetState() != 0) QuestNewMessages();

    // The parameter count comes from the server: never past the fields that are
    // parameters, so a deleted-record number is never taken for one.
    const int present = std::max(0, static_cast<int>(fields.size()) - kFixedFields - kTrailingFields);
    const int count = std::clamp(field(kFixedFields), 0, present);
    if (count != field(kFixedFields))
        LOGF(LOG_WARNING, kFn, L"parameter count %d clamped to %d", field(kFixedFields), count);
    if (g_pParameter != nullptr) {
        for (int i = 0; i < count; ++i) {
            const int number = field(kFixedFields + 1 + i);
            const std::optional<struParameterW> held = g_pParameter->GetParameterByIndex(i);
            if (held && number > 0 && number > held->syncNo)
                QuestParameter_asyn(-1, held->parameterNo, number, held->syncNo);
        }
    }

    // The server's highest article numbers, and its deleted-record numbers after the parameters.
    if (g_pMainFrame != nullptr && g_pMainFrame->GetState() != 0)
        QuestNewArticles(field(12), field(13), field(kFixedFields + count + 1), field(kFixedFields + count + 2));
    return 0;
}
