#include "Config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "CSqliteDB.h"
#include "Profile.h"
#include "ProgramFolderFixture.h"
#include "Quorvix.h"
#include "Text.h"
#include "global.h"

namespace {

std::wstring W(const std::filesystem::path& p) { return text::FromUtf8(p.string()); }

class ConfigTest : public ProgramFolderFixture {
protected:
    void SetIni(const wchar_t* key, const wchar_t* value) {
        WritePrivateProfileStringW(L"Login", key, value, W(dir_ / "Quorv10.ini").c_str());
    }
    void Sql(const std::wstring& sql) {
        CSqliteDB db;
        db.open(W(dir_ / "Quorv10.db"));
        db.execDML(sql);
    }
    std::wstring DefaultValue(const std::wstring& key) {
        ConfigMap map;
        EXPECT_EQ(config_.ReadDBConfigToMap(W(dir_ / "Quorv10.db"), map), 0);
        return CConfig::GetMapString(key, map, L"<absent>");
    }

    CConfig config_;
};

TEST_F(ConfigTest, StartsWithTheShippedSettingsAndDatabase) {
    ASSERT_EQ(config_.InitConfig(), 0);
    const auto& c = config_.m_config;
    const std::wstring folder = W(dir_.Path());
    EXPECT_EQ(c.workDir, folder);
    EXPECT_EQ(c.binDir, folder);
    EXPECT_EQ(c.tempDBName, folder + L"/Quorv10.db");
    EXPECT_EQ(c.version, c.versionInDefaultDB);
    EXPECT_FALSE(c.version.empty());
    EXPECT_EQ(c.mainPage, folder + L"/content/quorvix.htm");
    EXPECT_EQ(c.loginPage, folder + L"/content/user-login/default.htm");
    EXPECT_EQ(c.floatAlertPage, folder + L"/content/float-alert/default.htm");
    EXPECT_EQ(c.socketType, 1);
    EXPECT_EQ(c.LoginURL, L"127.0.0.1");
    EXPECT_EQ(c.UserNo, -1);
    EXPECT_FALSE(c.AutoLoginWhenRun);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(exitCodes_.empty());
}

TEST_F(ConfigTest, SettingsFileValuesAndDefaults) {
    const std::string ansi = text::ToAnsi(L"密码pw");
    SetIni(L"LoginPassword", (L"$" + text::FromAnsi(Base64Encode(ansi, 1000))).c_str());
    SetIni(L"SocketTypeBak", L"tcp");
    SetIni(L"UserNo", nullptr);
    SetIni(L"AutoLoginWhenRun", L"1");
    SetIni(L"RememberPassword", L"2");
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.m_config.LoginPassword, L"密码pw");
    EXPECT_EQ(config_.m_config.socketTypeBak, 2);
    EXPECT_EQ(config_.m_config.UserNo, -1);
    EXPECT_TRUE(config_.m_config.AutoLoginWhenRun);
    EXPECT_FALSE(config_.m_config.RememberPassword);

    const std::wstring base64 = text::FromAnsi(Base64Encode("secret", 1000));
    SetIni(L"LoginPassword", base64.c_str());
    config_.ReadLoginConfig();
    EXPECT_EQ(config_.m_config.LoginPassword, base64);
}

TEST_F(ConfigTest, TableRowsAreReadOnlyWhenActiveAndMacrosExpand) {
    Sql(L"update tConfig2 set value='DEV-1', status='0' where ID='DevID'");
    Sql(L"update tConfig2 set value='%INSTALLDIR%/content/' where ID='LocalUrlHead'");
    Sql(L"update tConfig2 set value='17' where ID='AreaCodeNo'");
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.m_config.DevID, L"");
    EXPECT_EQ(config_.m_config.LocalUrlHead, W(dir_.Path()) + L"/content/");
    EXPECT_EQ(config_.m_config.AreaCodeNo, 17);
}

TEST_F(ConfigTest, ValuesAreStoredIntactAndCutStatementsNeverRun) {
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_EQ(config_.SetDefaultConfigDBKeyValue(L"TrayIconHint", L"O'Neil's hint'; drop table tUser; --"), 1);
    EXPECT_EQ(DefaultValue(L"TrayIconHint"), L"O'Neil's hint'; drop table tUser; --");
    EXPECT_EQ(DefaultValue(L"DevID"), L"");  // the other rows are untouched

    EXPECT_EQ(config_.SetDefaultConfigDBKeyValue(L"TrayIconHint", std::wstring(300, L'x')), 0);
    EXPECT_EQ(DefaultValue(L"TrayIconHint"), L"O'Neil's hint'; drop table tUser; --");

    config_.m_config.userDBName = W(dir_ / "missing.db");
    EXPECT_EQ(config_.SetConfigDBKeyValue(L"DevID", L"x"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.db"));
}

TEST_F(ConfigTest, VersionMismatchWarnsOpensTheUpdatePageAndExits) {
    SetIni(L"Version", L"0.0.1");
    Sql(L"update tConfig2 set value='http://127.0.0.1/update.htm' where ID='updateHtml'");
    EXPECT_EQ(config_.InitConfig(), -1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], L"提示:运行程序与配置版本不一致，必须重新安装软件。");
    EXPECT_EQ(opened_, std::vector<std::wstring>{L"http://127.0.0.1/update.htm"});
    EXPECT_EQ(exitCodes_, std::vector<int>{0});
    EXPECT_EQ(g_nRunState, 4);
}

TEST_F(ConfigTest, UnreadableDefaultDatabaseFailsWithoutCreatingOne) {
    std::filesystem::remove(dir_ / "Quorv10.db");
    EXPECT_EQ(config_.InitConfig(), -1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Quorv10.db"));
    EXPECT_TRUE(exitCodes_.empty());
}

TEST_F(ConfigTest, StartWithTheSessionIsRestoredWhenTheSettingAsksForIt) {
    SetIni(L"AutoRunWithWindows", L"1");
    ASSERT_EQ(config_.InitConfig(), 0);
    EXPECT_TRUE(RegValueExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quorvix"));
}

TEST(ConfigStateTest, LoadPageStates) {
    CConfig config;
    EXPECT_EQ(config.GetLoadPageState(L"healthElement"), -1);
    EXPECT_EQ(config.SetLoadPageState(L"healthElement", 1), 0);
    EXPECT_EQ(config.AddLoadPageState(L"healthElement"), 0);
    EXPECT_EQ(config.GetLoadPageState(L"healthElement"), 1);
    EXPECT_EQ(config.SetLoadPageState(L"other", 1), -1);
    EXPECT_EQ(config.GetLoadPageState(L"other"), -1);
}

TEST(ConfigStateTest, ReplaceAllContinuesAfterTheInsertedText) {
    std::wstring s = L"a-a";
    EXPECT_EQ(StrReplaceAll(s, L"a", L"aa"), L"aa-aa");
    std::string n = "%X%%X%";
    EXPECT_EQ(StrReplaceAllA(n, "%X%", "/"), "//");
    EXPECT_EQ(StrReplaceAllA(n, "", "y"), "//");
}

}  // namespace
