// The configuration after login: the user database's settings, its fit to the
// program's template database, and the data-synchronisation program.
#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "Communication.h"
#include "Config.h"
#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "CxLog.h"
#include "DatabaseFile.h"
#include "FileCopy.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "Text.h"
#include "global.h"

namespace {

constexpr UINT kWarningBox = 0x40030;
constexpr int kWinInfoChars = 260;
constexpr int kBackupNumbers = 1000;
const wchar_t kDataSyncProgram[] = L"Halmor.exe";
const wchar_t kDataSyncPage[] = L"DataSync/SyncCheck.aspx";

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(text::ToUtf8(path)); }

bool AllDigits(std::wstring_view s) {
    for (const wchar_t c : s)
        if (!std::iswdigit(static_cast<wint_t>(c))) return false;
    return !s.empty();
}

// Numeric fields of any length: leading zeros dropped, then the longer is larger.
int CompareField(std::wstring_view a, std::wstring_view b) {
    if (AllDigits(a) && AllDigits(b)) {
        while (a.size() > 1 && a.front() == L'0') a.remove_prefix(1);
        while (b.size() > 1 && b.front() == L'0') b.remove_prefix(1);
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    }
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The user database cannot be made usable: the program cannot go on without it.
constexpr int kNoUserDatabase = -1;

// The user profile: the template gives it the one row that the login updates.
const wchar_t kUserTable[] = L"tUser";

// What a user database must have of the template's: the tables with their columns, and
// the profile's row.
struct DatabaseShape {
    std::map<std::wstring, std::set<std::wstring>> columns;  // by table
    bool hasUserRow = false;
};

DatabaseShape ReadShape(const std::wstring& dbPath) {
    DatabaseShape shape;
    CSqliteDB db;
    db.open(dbPath);
    CSqliteQuery query = db.execQuery(
        L"select m.name, c.name from sqlite_master m join pragma_table_info(m.name) c where m.type='table';");
    for (; !query.eof(); query.nextRow()) shape.columns[query.getStringField(0)].insert(query.getStringField(1));
    query.finalize();
    if (shape.columns.count(kUserTable) != 0) {
        CSqliteQuery row = db.execQuery(L"select 1 from " + std::wstring(kUserTable) + L" limit 1;");
        shape.hasUserRow = !row.eof();
        row.finalize();
    }
    return shape;
}

// The first table of the template that the user database lacks or holds with fewer
// columns; empty when there is none.
std::wstring MissingTable(const DatabaseShape& user, const DatabaseShape& temp) {
    for (const auto& [table, columns] : temp.columns) {
        const auto held = user.columns.find(table);
        if (held == user.columns.end() ||
            !std::includes(held->second.begin(), held->second.end(), columns.begin(), columns.end()))
            return table;
    }
    return {};
}

}  // namespace

int CConfig::CompareVersions(const std::wstring& a, const std::wstring& b) {
    std::wstring_view ra = a;
    std::wstring_view rb = b;
    while (!ra.empty() || !rb.empty()) {
        const auto da = ra.find(L'.');
        const auto db = rb.find(L'.');
        const std::wstring_view fa = ra.substr(0, da);
        const std::wstring_view fb = rb.substr(0, db);
        // A missing or empty field counts as 0, so "2" equals "2.0".
        if (const int c = CompareField(fa.empty() ? L"0" : fa, fb.empty() ? L"0" : fb); c != 0) return c;
        ra = da == std::wstring_view::npos ? std::wstring_view() : ra.substr(da + 1);
        rb = db == std::wstring_view::npos ? std::wstring_view() : rb.substr(db + 1);
    }
    return 0;
}

std::array<int, 3> CConfig::ParseWinInfo(const std::wstring& value) {
    std::array<int, 3> info{};
    for (int i = 0; i < 3; ++i) info[i] = text::WToI(GetValue(value, i + 1, L',', kWinInfoChars).c_str());
    if (info[0] != 0 && info[0] != 1) info[0] = 1;
    return info;
}

int CConfig::ReadAllConfig() {
    ReadAllConfigKey();
    return 0;
}

int CConfig::ReadAllConfigKey() {
    constexpr const wchar_t* kFn = L"CConfig::ReadAllConfigKey";
    ConfigMap map;
    // A fresh copy carries the template's database version, so one replacement is
    // enough; a second mismatch is logged instead of looping.
    bool replaced = false;
    for (;;) {
        map.clear();
        const int result = ReadDBConfigToMap(m_config.userDBName, map);
        const bool damaged = result == kUnusableDatabase || (result == 0 && !FitsTemplate());
        if (result < 0 && !damaged) {
            LOGF(LOG_ERROR, kFn, L"ReadDBConfigToMap[%d]!", result);
            return result;
        }
        if (damaged) {
            if (replaced) {
                LOGF(LOG_ERROR, kFn, L"user database[%s] still unusable after the replacement",
                     m_config.userDBName.c_str());
                MessageBoxW(nullptr, L"用户库文件无法使用，请重新安装软件。", L"提示", kWarningBox);
                EndProgram(kNoUserDatabase);
                return kNoUserDatabase;
            }
            LOGF(LOG_WARNING, kFn, L"user database[%s] unreadable or incomplete: it is set aside",
                 m_config.userDBName.c_str());
            m_config.dbVersionInUserDB.clear();
        } else {
            m_config.versionInUserDB = GetMapString(L"Version", map, L"");
            if (CompareVersions(m_config.versionInUserDB, m_config.versionInDefaultDB) > 0) {
                LOGF(LOG_MESSAGE, kFn,
                     L"使用了较早版本模板库，请安装最新程序。m_config.versionInUserDB[%s] > "
                     L"m_config.versionInDefaultDB[%s]",
                     m_config.versionInUserDB.c_str(), m_config.versionInDefaultDB.c_str());
                MessageBoxW(nullptr, L"使用了较早版本模板库，请安装最新程序。", L"提示", kWarningBox);
                ShellExecuteW(nullptr, nullptr, m_config.updateHtml.c_str(), nullptr, nullptr, 0);
                EndProgram();
                return 0;  // reached only when the exit hook returns
            }
            m_config.dbVersionInUserDB = GetMapString(L"DBVersion", map, L"");
            if (m_config.dbVersionInUserDB == m_config.dbVersionInDefaultDB) {
                if (m_config.versionInUserDB != m_config.versionInDefaultDB)
                    SetConfigDBKeyValue(L"Version", m_config.versionInDefaultDB);
                break;
            }
            if (replaced) {
                LOGF(LOG_ERROR, kFn, L"DBVersion[%s] still differs from [%s] after the replacement",
                     m_config.dbVersionInUserDB.c_str(), m_config.dbVersionInDefaultDB.c_str());
                break;
            }
            LOGF(LOG_MESSAGE, kFn, L"dbVersionInUserDB[%s] != dbVersionInDefaultDB[%s]",
                 m_config.dbVersionInUserDB.c_str(), m_config.dbVersionInDefaultDB.c_str());
        }
        if (!ReplaceUserDatabase()) return 0;
        std::error_code ec;
        if (std::filesystem::exists(FsPath(m_config.userDBName), ec)) break;
        replaced = true;
        LOGF(LOG_MESSAGE, kFn, L"CopyFileEx[%s][%s].", m_config.tempDBName.c_str(), m_config.userDBName.c_str());
        // Never over an existing file, and whole or not at all.
        RemoveDatabaseLeftovers(m_config.userDBName);
        if (!CopyFileW(m_config.tempDBName.c_str(), m_config.userDBName.c_str(), TRUE)) {
            LOGF(LOG_ERROR, kFn, L"CopyFileEx[%s]to[%s] err!!!", m_config.tempDBName.c_str(),
                 m_config.userDBName.c_str());
            MessageBoxW(nullptr, L"用户库文件拷贝操作失败，请重新电脑再试，或者重新安装软件。", L"提示", kWarningBox);
            EndProgram(kNoUserDatabase);
            return 0;
        }
        if (g_pCommunication != nullptr) g_pCommunication->m_bNewDatabase = true;
    }

    m_config.dataSyncCheckInUserDB = GetMapInt(L"DataSyncCheck", map, 0);
    if (g_nRunMode != 2 && ((m_config.DataSyncCheck & 2) != 0 || m_config.dataSyncCheckInUserDB == 1)) {
        if (RunDataSyncCheck()) return 0;  // the data-sync program took over
    }
    ReadUiSettings(map);
    return 1;
}

bool CConfig::ReplaceUserDatabase() {
    constexpr const wchar_t* kFn = L"CConfig::ReadAllConfigKey";
    // The name carries a number below 1000; a taken name moves on to the next number
    // rather than replace an earlier backup.
    const unsigned first = GetTickCount() % kBackupNumbers;
    std::wstring backup;
    for (int i = 0; i < kBackupNumbers; ++i) {
        backup = m_config.userDBName + L"_" + m_config.version + L"_" + m_config.dbVersionInUserDB + L"_" +
                 std::to_wstring((first + i) % kBackupNumbers);
        std::error_code ec;
        if (std::filesystem::exists(FsPath(backup), ec)) continue;
        if (MoveDatabaseNoReplace(m_config.userDBName, backup)) {
            LOGF(LOG_MESSAGE, kFn, L"MoveFile[%s]to[%s].", m_config.userDBName.c_str(), backup.c_str());
            return true;
        }
        break;
    }
    LOGF(LOG_ERROR, kFn, L"MoveFile[%s]to[%s] err!!!", m_config.userDBName.c_str(), backup.c_str());
    MessageBoxW(nullptr, L"用户库文件改名操作失败，请重新启动电脑再试，或者重新安装软件。", L"提示", kWarningBox);
    EndProgram(kNoUserDatabase);
    return false;
}

bool CConfig::FitsTemplate() {
    constexpr const wchar_t* kFn = L"CConfig::ReadAllConfigKey";
    try {
        const DatabaseShape user = ReadShape(m_config.userDBName);
        const DatabaseShape temp = ReadShape(m_config.tempDBName);
        if (const std::wstring table = MissingTable(user, temp); !table.empty()) {
            LOGF(LOG_WARNING, kFn, L"table[%s] missing or without all its columns", table.c_str());
            return false;
        }
        if (temp.hasUserRow && !user.hasUserRow) {
            LOGF(LOG_WARNING, kFn, L"table[%s] without its row", kUserTable);
            return false;
        }
    } catch (const CSqliteException& e) {
        // A file that cannot be listed just now (busy) is no proof of damage.
        LOGF(LOG_MESSAGE, kFn, L"CSqliteException[%s]:[%d][%s]", L"FitsTemplate", e.errorCode(), e.errorMessage());
    }
    return true;
}

bool CConfig::RunDataSyncCheck() {
    ShowLoadingStep(L"数据同步项检查...");
    const std::wstring userID = g_pCommunication != nullptr ? g_pCommunication->GetUserID() : std::wstring();
    const std::wstring password = g_pCommunication != nullptr ? g_pCommunication->GetLoginPassword() : std::wstring();
    int due = 0;
    if (questDataSyncCheck)
        due = questDataSyncCheck(userID);
    else if (g_pCommunication != nullptr)
        due = g_pCommunication->QuestDataSyncCheck_syn(userID, L"");
    if (due != 1) return false;
    SetConfigDBKeyValue(L"DataSyncCheck", L"1");

    // An empty address has no last character: it is passed empty.
    std::wstring address = m_config.HttpServiceAddr;
    if (!address.empty() && address.back() == L'/') address += kDataSyncPage;
    // Arguments one by one: a password with blanks or quotes stays one argument.
    const bool started = Hooks().startProgram && Hooks().startProgram(kDataSyncProgram, {userID, password, address});
    const int result = started ? 42 : static_cast<int>(ERROR_FILE_NOT_FOUND);
    if (result > 32) {
        ShowLoadingStep(L"启动数据同步程序，退出客户端...");
        EndProgram();
        return true;
    }
    LOGF(LOG_ERROR, L"CConfig::ReadAllConfigKey", L"启动数据同步程序失败[%d]!", result);
    return false;
}

void CConfig::ReadUiSettings(const ConfigMap& map) {
    m_config.ShowTodayNews = GetMapBool(L"ShowTodayNews", map, true);
    m_config.AutoHideFullScreen = GetMapBool(L"AutoHideFullScreen", map, true);
    m_config.NotifyMessageFullScreen = GetMapBool(L"NotifyMessageFullScreen", map, true);
    m_config.ShowTipSeconds = GetMapInt(L"ShowTipSeconds", map, 1);
    m_config.TipSeconds.fill(m_config.ShowTipSeconds);
    m_config.CloseAllSound = GetMapBool(L"CloseAllSound", map, false);
    m_config.CloseSwitchItemSound = GetMapBool(L"CloseSwitchItemSound", map, false);
    m_config.CloseSystemTipSound = GetMapBool(L"CloseSystemTipSound", map, false);
    m_config.UpdateMode = GetMapInt(L"UpdateMode", map, 1);
    m_config.DataSaveWay = GetMapInt(L"DataSaveWay", map, 2);
    m_config.FloatBarInfo = ParseWinInfo(GetMapString(L"FloatBarInfo", map, L""));
    m_config.SurroundWinInfo = ParseWinInfo(GetMapString(L"SurroundWinInfo", map, L""));
    m_config.NavigateWinInfo = ParseWinInfo(GetMapString(L"NavigateWinInfo", map, L""));
    m_config.AppWinInfo = ParseWinInfo(GetMapString(L"AppWinInfo", map, L""));
    m_config.ShowMessageBox = GetMapBool(L"ShowMessageBox", map, false);
    m_config.NotifyWinInfo = ParseWinInfo(GetMapString(L"NotifyWinInfo", map, L""));
    m_config.NoteWinInfo = ParseWinInfo(GetMapString(L"NoteWinInfo", map, L""));
}
