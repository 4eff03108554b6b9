// Every setting of the program: the settings file "Quorv10.ini" (section "Login"),
// the configuration table tConfig2 of the default database and, after login, of the
// user's database; the page paths and the page-load states.
#pragma once

#include <map>
#include <mutex>
#include <string>

struct struConfig {
    std::wstring version;
    std::wstring binDir;
    std::wstring workDir;
    std::wstring iniFileName;
    std::wstring tempDBName;
    std::wstring userDBName;
    std::wstring macAddress;
    int runMode = 0;
    std::wstring versionInDefaultDB;
    std::wstring versionInUserDB;
    std::wstring dbVersionInDefaultDB;
    std::wstring dbVersionInUserDB;
    int dataSyncCheckInUserDB = 0;
    std::wstring trayIconHint;
    std::wstring updateHtml;

    std::wstring mainPage;
    std::wstring popPage;
    std::wstring alertPopPage;
    std::wstring commonMessagePage;
    std::wstring articleSyncPage;
    std::wstring singleArticlePage;
    std::wstring pedometerPage;
    std::wstring bloodPressurePage;
    std::wstring expiredAlertPage;
    std::wstring mediaResourcePage;
    std::wstring eyeMovePage;
    std::wstring loginPage;
    std::wstring floatUserEnvPage;
    std::wstring floatHealthNotePage;
    std::wstring floatUserOpPage;
    std::wstring floatNavigationPage;
    std::wstring floatAlertPage;

    int socketType = 2;
    std::wstring LoginURL;
    std::wstring LoginPort;
    int DataSyncCheck = 2;
    int socketTypeBak = 2;
    std::wstring LoginURLBak;
    std::wstring LoginPortBak;
    std::wstring HttpServiceAddr;
    int AreaCodeNo = -1;
    std::wstring LocalUrlHead;
    std::wstring RemoteUrlHead;
    std::wstring DevID;
    std::wstring LoginAccount;
    std::wstring LoginPassword;
    std::wstring UserID;
    int UserNo = -1;
    bool RememberPassword = false;
    bool AutoRunWithWindows = false;
    bool AutoLoginWhenRun = false;
};

using ConfigMap = std::map<std::wstring, std::wstring>;

class CConfig {
public:
    CConfig();

    // 0, or -1 when the default database's settings cannot be read. A version
    // mismatch between the settings file and the default database ends the program.
    int InitConfig();
    int ReadDefaultConfig();
    int ReadLoginConfig();
    int ReadDBConfigToMap(const std::wstring& dbPath, ConfigMap& map);

    static bool GetMapBool(const std::wstring& key, const ConfigMap& map, bool defaultValue);
    static int GetMapInt(const std::wstring& key, const ConfigMap& map, int defaultValue);
    static std::wstring GetMapString(const std::wstring& key, const ConfigMap& map, const std::wstring& defaultValue);

    // 1, or 0 when the value could not be stored.
    int SetConfigDBKeyValue(const std::wstring& key, const std::wstring& value);
    int SetDefaultConfigDBKeyValue(const std::wstring& key, const std::wstring& value);
    int WriteProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value);
    int SaveConfig();

    int AddLoadPageState(const std::wstring& key);
    int SetLoadPageState(const std::wstring& key, int state);
    int GetLoadPageState(const std::wstring& key);

    struConfig m_config;

private:
    int SetKeyValue(const std::wstring& dbPath, const std::wstring& key, const std::wstring& value);
    std::wstring ReadIniText(const wchar_t* key, unsigned size);
    void BuildPagePaths();

    // Pages change the states from their threads while workers poll them.
    std::mutex loadPageLock_;
    std::map<std::wstring, int> loadPageStates_;
};

extern CConfig g_Config;

// Replaces every occurrence of from, continuing after each inserted text.
std::wstring& StrReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);
std::string& StrReplaceAllA(std::string& text, const std::string& from, const std::string& to);
