#include "Config.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <sqlite3.h>

#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "CxLog.h"
#include "Hooks.h"
#include "Profile.h"
#include "Quorvix.h"
#include "Text.h"
#include "global.h"

CConfig g_Config;

namespace {

constexpr std::size_t kPathChars = 260;
constexpr std::size_t kStatementChars = 260;
constexpr unsigned kIniTextChars = 100;
constexpr unsigned kIniAddressChars = 200;
const wchar_t kLoginSection[] = L"Login";
const wchar_t kDefaultTrayHint[] = L"Quorvix---关心您的健康";
const wchar_t kDefaultUpdateHtml[] = L"http://127.0.0.1:18092/download/";

int SocketTypeOf(const std::wstring& text) { return text == L"TCP" ? 1 : 2; }

// A media folder with exactly one separator at its end.
std::wstring MediaFolder(std::wstring folder) {
    while (!folder.empty() && (folder.back() == L'/' || folder.back() == L'\\')) folder.pop_back();
    return folder + L'/';
}

// The stored password is plain text, or "$" and the Base64 form of its ANSI bytes.
std::wstring DecodePassword(const std::wstring& stored) {
    if (stored.empty() || stored[0] != L'$') return stored;
    std::string bytes = Base64Decode(text::ToAnsi(stored.substr(1)));
    bytes.resize(std::strlen(bytes.c_str()));
    return text::FromAnsi(bytes);
}

// The search goes on after each inserted text, so a replacement that contains the
// pattern cannot loop.
template <class String>
String& ReplaceAll(String& text, const String& from, const String& to) {
    if (from.empty()) return text;
    for (auto pos = text.find(from); pos != String::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

}  // namespace

CConfig::CConfig() { AddLoadPageState(L"healthElement"); }

int CConfig::InitConfig() {
    std::error_code ec;
    std::wstring cwd = text::FromUtf8(std::filesystem::current_path(ec).string());
    m_config.workDir = StrReplaceAll(cwd, L"\\", L"/");
    m_config.binDir = m_config.workDir;
    if (ReadDefaultConfig() < 0) return -1;
    ReadLoginConfig();
    if (m_config.version != m_config.versionInDefaultDB) {
        MessageBoxW(nullptr, L"运行程序与配置版本不一致，必须重新安装软件。", L"提示", 0x40030);
        ShellExecuteW(nullptr, nullptr, m_config.updateHtml.c_str(), nullptr, nullptr, 0);
        g_nRunState = 4;
        AppExit();
        return -1;  // reached only when the exit hook returns
    }
    return 0;
}

int CConfig::ReadDefaultConfig() {
    FormatCut(m_config.tempDBName, kPathChars, L"%s/Quorv10.db", m_config.workDir.c_str());
    FormatCut(m_config.iniFileName, kPathChars, L"%s/Quorv10.ini", m_config.workDir.c_str());
    ConfigMap map;
    if (ReadDBConfigToMap(m_config.tempDBName, map) < 0) {
        LOGF(LOG_ERROR, L"CConfig::ReadDefaultConfig", L"ReadDBConfigToMap:[%s]fail!!!", m_config.tempDBName.c_str());
        return -1;
    }
    m_config.versionInDefaultDB = GetMapString(L"Version", map, L"");
    m_config.dbVersionInDefaultDB = GetMapString(L"DBVersion", map, L"");
    m_config.updateHtml = GetMapString(L"updateHtml", map, kDefaultUpdateHtml);
    BuildPagePaths();
    m_config.trayIconHint = GetMapString(L"TrayIconHint", map, kDefaultTrayHint);
    m_config.DevID = GetMapString(L"DevID", map, L"");
    m_config.AreaCodeNo = GetMapInt(L"AreaCodeNo", map, -1);
    m_config.LocalUrlHead = GetMapString(L"LocalUrlHead", map, L"");
    StrReplaceAll(m_config.LocalUrlHead, L"%WORKDIR%", m_config.workDir);
    StrReplaceAll(m_config.LocalUrlHead, L"%INSTALLDIR%", m_config.binDir);
    m_config.mediaFolder1 = MediaFolder(m_config.LocalUrlHead.empty() ? m_config.binDir : m_config.LocalUrlHead);
    m_config.mediaFolder2 = MediaFolder(m_config.binDir);
    m_config.RemoteUrlHead = GetMapString(L"RemoteUrlHead", map, L"");
    GetMacAddress(m_config.macAddress);
    return 1;
}

void CConfig::BuildPagePaths() {
    struct Page {
        std::wstring* path;
        const wchar_t* format;
    };
    const Page pages[] = {
        {&m_config.mainPage, L"%s/content/quorvix.htm"},
        {&m_config.popPage, L"%s/content/popQuorv.htm"},
        {&m_config.alertPopPage, L"%s/content/assistant/alert-popwin/default.htm"},
        {&m_config.commonMessagePage, L"%s/content/common-message/default.htm"},
        {&m_config.articleSyncPage, L"%s/content/article/sync-message/default.htm"},
        {&m_config.singleArticlePage, L"%s/content/article/sync-message/single-article.htm"},
        {&m_config.pedometerPage, L"%s/content/theme/pedometer/default.htm"},
        {&m_config.bloodPressurePage, L"%s/content/theme/blood-pressure/default.htm"},
        {&m_config.expiredAlertPage, L"%s/content/assistant/expired-alert/expired-alert.htm"},
        {&m_config.mediaResourcePage, L"%s/content/media-resource/default.htm"},
        {&m_config.eyeMovePage, L"%s/content/assistant/eyeMove.htm"},
        {&m_config.loginPage, L"%s/content/user-login/default.htm"},
        {&m_config.floatUserEnvPage, L"%s/content/float-userenv/default.htm"},
        {&m_config.floatHealthNotePage, L"%s/content/float-h-note/default.htm"},
        {&m_config.floatUserOpPage, L"%s/content/float-userop/default.htm"},
        {&m_config.floatNavigationPage, L"%s/content/float-navigation/default.htm"},
        {&m_config.floatAlertPage, L"%s/content/float-alert/default.htm"},
    };
    for (const auto& page : pages) FormatCut(*page.path, kPathChars, page.format, m_config.binDir.c_str());
}

std::wstring CConfig::ReadIniText(const wchar_t* key, unsigned size) {
    std::vector<wchar_t> buffer(size, L'\0');
    GetPrivateProfileStringW(kLoginSection, key, L"", buffer.data(), size, m_config.iniFileName.c_str());
    return buffer.data();
}

int CConfig::ReadLoginConfig() {
    const wchar_t* ini = m_config.iniFileName.c_str();
    auto readFlag = [ini](const wchar_t* key) { return static_cast<int>(GetPrivateProfileIntW(kLoginSection, key, -1, ini)) == 1; };
    m_config.version = ReadIniText(L"Version", kIniTextChars);
    m_config.UserID = ReadIniText(L"UserID", kIniTextChars);
    m_config.UserNo = static_cast<int>(GetPrivateProfileIntW(kLoginSection, L"UserNo", -1, ini));
    m_config.LoginAccount = ReadIniText(L"LoginAccount", kIniTextChars);
    m_config.LoginPassword = DecodePassword(ReadIniText(L"LoginPassword", kIniTextChars));
    m_config.RememberPassword = readFlag(L"RememberPassword");
    m_config.AutoRunWithWindows = readFlag(L"AutoRunWithWindows");
    m_config.AutoLoginWhenRun = readFlag(L"AutoLoginWhenRun");
    m_config.LoginURL = ReadIniText(L"LoginURL", kIniTextChars);
    m_config.LoginPort = ReadIniText(L"LoginPort", kIniTextChars);
    m_config.socketType = SocketTypeOf(ReadIniText(L"SocketType", kIniTextChars));
    m_config.LoginURLBak = ReadIniText(L"LoginURLBak", kIniTextChars);
    m_config.LoginPortBak = ReadIniText(L"LoginPortBak", kIniTextChars);
    m_config.socketTypeBak = SocketTypeOf(ReadIniText(L"SocketTypeBak", kIniTextChars));
    m_config.HttpServiceAddr = ReadIniText(L"HttpServiceAddr", kIniAddressChars);
    m_config.DataSyncCheck = static_cast<int>(GetPrivateProfileIntW(kLoginSection, L"DataSyncCheck", 2, ini));
    if (m_config.AutoRunWithWindows &&
        !RegValueExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quorvix") && !SetAutoRun(true)) {
        LOGF(LOG_ERROR, L"CConfig::ReadLoginConfig", L"SetAutoRun(true):fail.");
    }
    return 1;
}

int CConfig::ReadDBConfigToMap(const std::wstring& dbPath, ConfigMap& map) {
    CSqliteDB db;
    CSqliteQuery query;
    try {
        db.open(dbPath);
        query = db.execQuery(L"select ID,value from tConfig2 where status='1' ;");
        for (; !query.eof(); query.nextRow()) map[query.getStringField(0)] = query.getStringField(1);
        query.finalize();
        db.close();
    } catch (const CSqliteException& e) {
        LOGF(LOG_MESSAGE, L"CConfig::ReadDBConfigToMap", L"CSqliteException[%s]:[%d][%s]", L"ReadDefaultDBConfigToMap",
             e.errorCode(), e.errorMessage());
        // The statement is fixed: an error in it means the table is not there.
        const int code = e.errorCode();
        return code == SQLITE_NOTADB || code == SQLITE_CORRUPT || code == SQLITE_ERROR ? kUnusableDatabase : -1;
    }
    return 0;
}

bool CConfig::GetMapBool(const std::wstring& key, const ConfigMap& map, bool defaultValue) {
    const auto it = map.find(key);
    return it == map.end() ? defaultValue : text::WToI(it->second.c_str()) != 0;
}

int CConfig::GetMapInt(const std::wstring& key, const ConfigMap& map, int defaultValue) {
    const auto it = map.find(key);
    return it == map.end() ? defaultValue : text::WToI(it->second.c_str());
}

std::wstring CConfig::GetMapString(const std::wstring& key, const ConfigMap& map, const std::wstring& defaultValue) {
    const auto it = map.find(key);
    return it == map.end() ? defaultValue : it->second;
}

int CConfig::SetConfigDBKeyValue(const std::wstring& key, const std::wstring& value) {
    return SetKeyValue(m_config.userDBName, key, value);
}

int CConfig::SetDefaultConfigDBKeyValue(const std::wstring& key, const std::wstring& value) {
    return SetKeyValue(m_config.tempDBName, key, value);
}

// Values come from pages too, so they are quoted; a statement cut to its buffer
// could lose its where clause and is never run.
int CConfig::SetKeyValue(const std::wstring& dbPath, const std::wstring& key, const std::wstring& value) {
    std::wstring sql;
    if (!FormatCut(sql, kStatementChars,
                   L"update tConfig2 set value='%s',modifyTime=datetime('now','localtime') where ID = '%s' ;",
                   text::QuoteSql(value).c_str(), text::QuoteSql(key).c_str())) {
        return 0;
    }
    try {
        CSqliteDB db;
        db.open(dbPath);
        db.execDML(sql);
        db.close();
    } catch (const CSqliteException& e) {
        LOGF(LOG_MESSAGE, L"CConfig::SetConfigDBKeyValue", L"CSqliteException[%s]:[%d][%s]", sql.c_str(),
             e.errorCode(), e.errorMessage());
        return 0;
    }
    return 1;
}

int CConfig::WriteProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    return WritePrivateProfileStringW(section, key, value, m_config.iniFileName.c_str());
}

int CConfig::SaveConfig() { return 1; }

int CConfig::AddLoadPageState(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(loadPageLock_);
    return loadPageStates_.emplace(key, -1).second ? 1 : 0;
}

int CConfig::SetLoadPageState(const std::wstring& key, int state) {
    std::lock_guard<std::mutex> lock(loadPageLock_);
    const auto it = loadPageStates_.find(key);
    if (it == loadPageStates_.end()) return -1;
    it->second = state;
    return 0;
}

int CConfig::GetLoadPageState(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(loadPageLock_);
    const auto it = loadPageStates_.find(key);
    return it == loadPageStates_.end() ? -1 : it->second;
}

std::wstring& StrReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    return ReplaceAll(text, from, to);
}

std::string& StrReplaceAllA(std::string& text, const std::string& from, const std::string& to) {
    return ReplaceAll(text, from, to);
}
