// The application types of the computer-use monitor: the type map, the two tables and
// the server's reply that changes both.
#include <algorithm>
#include <climits>
#include <cwctype>
#include <optional>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "UserOperation.h"
#include "global.h"

namespace {

constexpr wchar_t kOtherSoftware[] = L"其他软件";
constexpr int kMinTimerSeconds = 5;
constexpr int kValuesPerItem = 4;

std::wstring Quoted(const std::wstring& s) { return L"'" + text::QuoteSql(s) + L"'"; }

std::vector<std::wstring> SplitValues(const std::wstring& items) {
    std::vector<std::wstring> values;
    std::size_t start = 0;
    while (start <= items.size() && !items.empty()) {
        const std::size_t bar = items.find(L'|', start);
        values.push_back(items.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
        if (bar == std::wstring::npos) break;
        start = bar + 1;
    }
    return values;
}

// "0" and "1" write the row whether it exists or not; "2" only removes one.
int RunWrite(const std::wstring& sql) {
    const int result = g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQLSet({sql}, false) : -1;
    if (result != 0) LOGF(LOG_ERROR, L"CUserOperation::RunWrite", L"ExecSQLSet:[%d][%s]", result, sql.c_str());
    return result;
}

int InvalidOpCode(const std::wstring& opCode) {
    LOGF(LOG_ERROR, L"CUserOperation::WriteToDB", L"WriteApplicationToDB:无效的opCode值[%s]", opCode.c_str());
    return -1;
}

}  // namespace

int CUserOperation::ReadAppTypeFromDB() {
    std::map<int, std::unique_ptr<AppTypeInfo>> loaded;
    const int read = records::SelectOwnConnection(
        L"CUserOperation::ReadAppTypeFromDB", L"ReadAppTypeFromDB",
        L"select appType, appTypeName, ratio, status, note from tAppType where status = '1' order by appType;",
        [&loaded](const std::vector<std::wstring>& row) {
            auto info = std::make_unique<AppTypeInfo>();
            info->appType = records::ColumnInt(row, 0);
            info->appTypeName = records::ColumnText(row, 1);
            info->ratio = records::ColumnInt(row, 2);
            loaded.emplace(info->appType, std::move(info));  // a second row of a type is not taken
            return true;
        });
    std::lock_guard lock(m_lock);
    m_mapAppType = std::move(loaded);
    return read == 1 ? static_cast<int>(m_mapAppType.size()) : -1;
}

int CUserOperation::GetAppTypeByAppFile(const std::wstring& appFile) {
    int appType = 0;
    records::SelectOwnConnection(L"CUserOperation::GetAppTypeByAppFile", L"GetAppTypeByAppFile",
                                 L"select appType from tApplication where appFile = " + Quoted(appFile) + L";",
                                 [&appType](const std::vector<std::wstring>& row) {
                                     appType = records::ColumnInt(row, 0);  // the last row's
                                     return true;
                                 });
    return appType;
}

std::wstring CUserOperation::GetAppTypeName(int appType) const {
    if (appType == 0) return kOtherSoftware;
    std::lock_guard lock(m_lock);
    const auto it = m_mapAppType.find(appType);
    return it != m_mapAppType.end() ? it->second->appTypeName : std::wstring();
}

void CUserOperation::SplitAppPath(const std::wstring& path, std::wstring& folder, std::wstring& fileName) {
    folder.clear();
    fileName.clear();
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) {
        fileName = path;
        return;
    }
    folder = path.substr(0, cut + 1);
    fileName = path.substr(cut + 1);
}

int CUserOperation::WriteAppTypeToDB(const std::wstring& opCode, int appType, const std::wstring& appTypeName,
                                     int ratio, const std::wstring& note) {
    if (opCode != L"0" && opCode != L"1" && opCode != L"2") return InvalidOpCode(opCode);
    const std::wstring where = L"where appType=" + std::to_wstring(appType);
    const int count = g_pMyDatabase != nullptr ? g_pMyDatabase->ReadRecordCount(L"tAppType", where) : -1;
    if (count < 0) {
        LOGF(LOG_ERROR, L"CUserOperation::WriteAppTypeToDB", L"tAppType ReadRecordCount error [%s][%d]", where.c_str(),
             count);
        return -1;
    }
    const std::wstring type = std::to_wstring(appType);
    if (opCode == L"2") return count > 0 ? RunWrite(L"delete from tAppType where appType=" + type + L";") : 0;
    if (count > 0)
        return RunWrite(L"update tAppType set appTypeName=" + Quoted(appTypeName) + L", ratio=" +
                        std::to_wstring(ratio) + L", note=" + Quoted(note) +
                        L", modifyTime=datetime('now','localtime') where appType=" + type + L";");
    return RunWrite(L"insert into tAppType (appType, appTypeName, ratio, note, modifyTime)\tvalues (" + type + L", " +
                    Quoted(appTypeName) + L", " + std::to_wstring(ratio) + L", " + Quoted(note) +
                    L", datetime('now','localtime'));");
}

int CUserOperation::WriteApplicationToDB(const std::wstring& opCode, const std::wstring& appFile,
                                         const std::wstring& appPath, const std::wstring& appName, int appType,
                                         const std::wstring& note) {
    if (opCode != L"0" && opCode != L"1") return InvalidOpCode(opCode);
    const std::wstring where = L"where appFile=" + Quoted(appFile);
    const int count = g_pMyDatabase != nullptr ? g_pMyDatabase->ReadRecordCount(L"tApplication", where) : -1;
    if (count < 0) {
        LOGF(LOG_ERROR, L"CUserOperation::WriteApplicationToDB", L"tApplication ReadRecordCount error [%s][%d]",
             where.c_str(), count);
        return -1;
    }
    if (count > 0)
        return RunWrite(L"update tApplication set appPath=" + Quoted(appPath) + L", appName=" + Quoted(appName) +
                        L", appType=" + std::to_wstring(appType) + L", note=" + Quoted(note) +
                        L",modifyTime=datetime('now','localtime') where appFile=" + Quoted(appFile) + L";");
    return RunWrite(L"insert into tApplication (appFile, appPath, appName, appType, note, modifyTime)\tvalues (" +
                    Quoted(appFile) + L", " + Quoted(appPath) + L", " + Quoted(appName) + L", " +
                    std::to_wstring(appType) + L", " + Quoted(note) + L", datetime('now','localtime'));");
}

int CUserOperation::BussDataProc(const std::wstring& reply) {
    constexpr const wchar_t* kFn = L"CUserOperation::BussDataProc";
    const int result = records::ReplyResult(kFn, COMMAND_USEROPDATA_UPLOAD, reply);
    if (result < 0) return result;
    ApplyTimerInterval(records::ReplyField(reply, 5));
    const std::wstring countText = records::ReplyField(reply, 6);
    int count = records::WireNumber(countText, 0).value_or(0);
    if (!countText.empty() && !records::WireNumber(countText, 0))
        LOGF(LOG_WARNING, kFn, L"item count [%s] is no count", countText.c_str());
    // The items all stand in one field: read it whole, and take only the items present.
    const std::vector<std::wstring> values = SplitValues(records::ReplyField(reply, 7, records::kReplyWholeMax));
    const int present = static_cast<int>(values.size()) / kValuesPerItem;
    if (count > present) {
        LOGF(LOG_WARNING, kFn, L"%d items announced, %d present", count, present);
        count = present;
    }
    for (int i = 0; i < count; ++i) {
        const std::size_t v = static_cast<std::size_t>(i) * kValuesPerItem;
        // A negative type names the type it removes: its negation must be a number too.
        const std::optional<int> appType = records::WireNumber(values[v + 1], -INT_MAX);
        const std::optional<int> ratio = records::WireNumber(values[v + 3]);
        if (appType && ratio)
            ApplyReplyItem(values[v], *appType, values[v + 2], *ratio);
        else
            LOGF(LOG_WARNING, kFn, L"item [%s|%s|%s|%s] ignored: its type or ratio is no number", values[v].c_str(),
                 values[v + 1].c_str(), values[v + 2].c_str(), values[v + 3].c_str());
        Sleep(1);
    }
    return 0;
}

void CUserOperation::ApplyTimerInterval(const std::wstring& field) {
    // A reply without an interval keeps the timer as it is.
    const std::optional<int> given = records::WireNumber(field, INT_MIN, INT_MAX / 1000);
    if (!given) {
        LOGF(LOG_WARNING, L"CUserOperation::ApplyTimerInterval", L"interval [%s] is no number of seconds the timer takes",
             field.c_str());
        return;
    }
    const int seconds = std::max(*given, kMinTimerSeconds);
    if (m_nTimerInterval.exchange(seconds * 1000) == seconds * 1000) return;
    if (CMainFrame* frame = g_pMainFrame) {
        frame->KillUserOpTimer();
        frame->SetUserOpTimer();
    }
}

void CUserOperation::ApplyReplyItem(const std::wstring& path, int appType, const std::wstring& name, int ratio) {
    if (appType == 0) return;
    if (path.empty()) {
        LOGF(LOG_WARNING, L"CUserOperation::ApplyReplyItem", L"item of type %d without a path", appType);
        return;
    }
    ApplyTypeItem(appType, name, ratio);
    // A negative type only removes that type; it is never a program's type.
    if (appType > 0) ApplyProgramItem(path, appType);
}

void CUserOperation::ApplyTypeItem(int appType, const std::wstring& name, int ratio) {
    const wchar_t* opCode = nullptr;
    const int key = appType > 0 ? appType : -appType;
    {
        std::lock_guard lock(m_lock);
        auto it = m_mapAppType.find(key);
        if (appType < 0) {
            if (it == m_mapAppType.end()) return;
            m_mapAppType.erase(it);
            opCode = L"2";
        } else if (it == m_mapAppType.end()) {
            auto info = std::make_unique<AppTypeInfo>();
            *info = AppTypeInfo{appType, name, ratio};
            m_mapAppType.emplace(appType, std::move(info));
            opCode = L"0";
        } else if (it->second->appTypeName != name || it->second->ratio != ratio) {
            it->second->appTypeName = name;
            it->second->ratio = ratio;
            opCode = L"1";
        } else {
            return;
        }
    }
    const std::wstring note = appType < 0 ? L"" : (std::wstring(opCode) == L"0" ? L"新增" : L"更新");
    WriteAppTypeToDB(opCode, key, name, ratio, note);
}

void CUserOperation::ApplyProgramItem(const std::wstring& path, int appType) {
    const std::wstring key = LowerAscii(path);
    const wchar_t* opCode = nullptr;
    {
        std::lock_guard lock(m_lock);
        const auto it = m_mapProcessInfo.find(key);
        if (it == m_mapProcessInfo.end() || it->second->appType == appType) return;
        PROCESSINFO& info = *it->second;
        opCode = info.appType == 0 ? L"0" : L"1";
        if (info.appType == kBrowsingType)
            m_browsingMs = m_browsingMs > info.activeMs ? m_browsingMs - info.activeMs : 0;
        if (appType == kBrowsingType) m_browsingMs = std::min(m_browsingMs + info.activeMs, m_activeMs);
        info.appType = appType;
        RecomputeLocked();
    }
    // The file name is stored lower-cased, as GetAppTypeByAppFile looks it up.
    std::wstring folder;
    std::wstring fileName;
    std::wstring unused;
    SplitAppPath(path, folder, unused);
    SplitAppPath(key, unused, fileName);
    WriteApplicationToDB(opCode, fileName, folder, path, appType, std::wstring(opCode) == L"0" ? L"新增" : L"更新");
}
