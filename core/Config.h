// Every setting of the program: the settings file "Quorv10.ini" (section "Login"),
// the configuration table tConfig2 of the default database and, after login, of the
// user's database; the page paths and the page-load states.
#pragma once

#include <array>
#include <functional>
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
    // The media player's local files: looked for in the first folder (LocalUrlHead, or
    // the program folder when it is empty), else taken from the second (the program
    // folder). Each ends with exactly one '/', so a file name joins it as it is.
    std::wstring mediaFolder1;
    std::wstring mediaFolder2;
    std::wstring DevID;
    std::wstring LoginAccount;
    std::wstring LoginPassword;
    std::wstring UserID;
    int UserNo = -1;
    bool RememberPassword = false;
    bool AutoRunWithWindows = false;
    bool AutoLoginWhenRun = false;

    // User-interface settings of the user's database, read after login.
    bool ShowTodayNews = true;
    bool AutoHideFullScreen = true;
    bool NotifyMessageFullScreen = true;
    int ShowTipSeconds = 1;
    // One entry per tip timer of the main window, all starting at ShowTipSeconds.
    std::array<int, 6> TipSeconds{1, 1, 1, 1, 1, 1};
    bool CloseAllSound = false;
    bool CloseSwitchItemSound = false;
    bool CloseSystemTipSound = false;
    int UpdateMode = 1;
    int DataSaveWay = 2;
    bool ShowMessageBox = false;
    // Window groups: a visibility flag (0 or 1) and two numbers.
    std::array<int, 3> FloatBarInfo{};
    std::array<int, 3> SurroundWinInfo{};
    std::array<int, 3> NavigateWinInfo{};
    std::array<int, 3> AppWinInfo{};
    std::array<int, 3> NotifyWinInfo{};
    std::array<int, 3> NoteWinInfo{};
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
    // 0; kUnusableDatabase when the file is no database or has no settings table (a
    // damaged file); -1 on any other failure (missing, busy).
    static constexpr int kUnusableDatabase = -2;
    int ReadDBConfigToMap(const std::wstring& dbPath, ConfigMap& map);

    // The configuration after login (ConfigAfterLogin.cpp). ReadAllConfig runs
    // ReadAllConfigKey and returns 0.
    int ReadAllConfig();
    // 1, or the negative result of ReadDBConfigToMap when the user's tConfig2 cannot
    // be read for a passing reason. A damaged user database, or one that lacks tables or
    // columns of the template or the profile row, is set aside and replaced like an
    // older one. A user database newer than the template, a failed replacement or a
    // started data-sync program end the process (returns only when the exit hook does).
    int ReadAllConfigKey();
    // "a,b,c" as three numbers, missing ones 0; a flag other than 0 and 1 becomes 1.
    static std::array<int, 3> ParseWinInfo(const std::wstring& value);
    // Dotted version texts compared field by field, digits as numbers: <0, 0 or >0.
    static int CompareVersions(const std::wstring& a, const std::wstring& b);

    // Whether the server asks for a data synchronisation (1 yes). Empty: the
    // communication object is asked. Tests put an answer here.
    std::function<int(const std::wstring& userID)> questDataSyncCheck;

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
    // Keeps the user's database aside and puts a fresh template copy in its place;
    // false when the program is to end.
    bool ReplaceUserDatabase();
    // Whether the user database has every table of the template with all its columns,
    // and the profile row when the template has one. A file that cannot be read just
    // now counts as fitting.
    bool FitsTemplate();
    // true when the data-sync program was started and the program is ending.
    bool RunDataSyncCheck();
    void ReadUiSettings(const ConfigMap& map);

    // Pages change the states from their threads while workers poll them.
    std::mutex loadPageLock_;
    std::map<std::wstring, int> loadPageStates_;
};

extern CConfig g_Config;

// Replaces every occurrence of from, continuing after each inserted text.
std::wstring& StrReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);
std::string& StrReplaceAllA(std::string& text, const std::string& from, const std::string& to);
