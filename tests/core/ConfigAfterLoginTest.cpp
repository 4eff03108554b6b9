#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "CSqliteDB.h"
#include "Communication.h"
#include "Config.h"
#include "Hooks.h"
#include "ProgramFolderFixture.h"
#include "Quorvix.h"
#include "TempDir.h"
#include "Text.h"

namespace {

namespace fs = std::filesystem;

std::wstring W(const fs::path& p) { return text::FromUtf8(p.string()); }

struct Started {
    std::wstring program;
    std::vector<std::wstring> args;
};

// A program folder with the template database and a user database copied from it,
// as a first login leaves them; nothing outside is started, opened or ended.
class ConfigAfterLoginTest : public ProgramFolderFixture {
protected:
    ConfigAfterLoginTest() {
        Hooks().startProgram = [this](const std::wstring& program, const std::vector<std::wstring>& args) {
            started_.push_back({program, args});
            return startResult_;
        };
        Hooks().tickCount = [] { return DWORD{12345}; };
        g_pCommunication = &comm_;
        comm_.SetUserID(L"demo");
        comm_.SetLoginPassword(L"p w\"1");
    }
    ~ConfigAfterLoginTest() override {
        g_pCommunication = nullptr;
        g_nRunMode = 0;
    }

    // Reads the settings and makes the user database from the template.
    void SetUp() override {
        ASSERT_EQ(config_.InitConfig(), 0);
        fs::create_directory(dir_ / "quorv_demo");
        fs::copy_file(dir_ / "Quorv10.db", userDB_);
        config_.m_config.userDBName = W(userDB_);
        config_.questDataSyncCheck = [this](const std::wstring& userID) {
            asked_.push_back(userID);
            return syncDue_;
        };
    }

    static void Put(const fs::path& db, const std::wstring& key, const std::wstring& value) {
        CSqliteDB sql;
        sql.open(W(db));
        sql.execDML(L"delete from tConfig2 where ID='" + key + L"';");
        sql.execDML(L"insert into tConfig2 values('" + key + L"','" + value + L"','1',datetime('now'));");
    }
    static void Drop(const fs::path& db, const std::wstring& key) {
        CSqliteDB sql;
        sql.open(W(db));
        sql.execDML(L"delete from tConfig2 where ID='" + key + L"';");
    }
    std::wstring Stored(const fs::path& db, const std::wstring& key) {
        ConfigMap map;
        EXPECT_EQ(config_.ReadDBConfigToMap(W(db), map), 0);
        return CConfig::GetMapString(key, map, L"<absent>");
    }
    std::vector<fs::path> Backups() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(dir_ / "quorv_demo"))
            if (entry.path() != userDB_) found.push_back(entry.path());
        return found;
    }

    CCommunication comm_;
    CConfig config_;
    fs::path userDB_ = dir_ / "quorv_demo" / "Quorv10_demo.db";
    std::vector<Started> started_;
    std::vector<std::wstring> asked_;
    bool startResult_ = true;
    int syncDue_ = 0;
};

// ---- versions ---------------------------------------------------------------------

TEST(ConfigVersionTest, DottedNumbersCompareAsNumbers) {
    EXPECT_LT(CConfig::CompareVersions(L"1.9", L"1.10"), 0);
    EXPECT_GT(CConfig::CompareVersions(L"1.10", L"1.9"), 0);
    EXPECT_LT(CConfig::CompareVersions(L"1.2.0.0", L"1.3.0.0"), 0);
    EXPECT_EQ(CConfig::CompareVersions(L"1.2.0.0", L"1.2.0.0"), 0);
    EXPECT_EQ(CConfig::CompareVersions(L"2", L"2.0"), 0);
    EXPECT_EQ(CConfig::CompareVersions(L"01.2", L"1.2"), 0);
    EXPECT_LT(CConfig::CompareVersions(L"", L"2.0"), 0);
    EXPECT_GT(CConfig::CompareVersions(L"1.0b", L"1.0a"), 0);
}

TEST_F(ConfigAfterLoginTest, OlderUserVersionIsNoReasonToReinstall) {
    config_.m_config.versionInDefaultDB = L"1.10";
    Put(userDB_, L"Version", L"1.9");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_EQ(Stored(userDB_, L"Version"), L"1.10");  // raised, the database versions being equal
}

TEST_F(ConfigAfterLoginTest, NewerUserVersionAsksForANewInstallationAndEnds) {
    config_.m_config.versionInDefaultDB = L"1.9";
    config_.m_config.updateHtml = L"http://127.0.0.1/update.htm";
    Put(userDB_, L"Version", L"1.10");
    Put(userDB_, L"FloatBarInfo", L"0,4,4");
    EXPECT_EQ(config_.ReadAllConfigKey(), 0);
    EXPECT_EQ(boxes_, std::vector<std::wstring>{L"提示:使用了较早版本模板库，请安装最新程序。"});
    EXPECT_EQ(opened_, std::vector<std::wstring>{L"http://127.0.0.1/update.htm"});
    EXPECT_EQ(exitCodes_, std::vector<int>{0});
    EXPECT_EQ(g_nRunState, 4);
    EXPECT_EQ(config_.m_config.FloatBarInfo[1], 0);  // nothing further read
    EXPECT_EQ(Stored(userDB_, L"Version"), L"1.10");
}

TEST_F(ConfigAfterLoginTest, EmptyUserVersionIsRaisedToTheTemplates) {
    config_.m_config.versionInDefaultDB = L"2.0";
    Put(userDB_, L"Version", L"");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Stored(userDB_, L"Version"), L"2.0");
    EXPECT_EQ(config_.m_config.versionInUserDB, L"");
}

TEST_F(ConfigAfterLoginTest, UnreadableUserDatabaseReturnsTheErrorAndKeepsTheSettings) {
    config_.m_config.ShowTipSeconds = 7;
    config_.m_config.userDBName = W(dir_ / "quorv_demo" / "missing.db");
    EXPECT_LT(config_.ReadAllConfigKey(), 0);
    EXPECT_EQ(config_.m_config.ShowTipSeconds, 7);
    EXPECT_TRUE(started_.empty());
}

// ---- database replacement ---------------------------------------------------------

TEST_F(ConfigAfterLoginTest, DatabaseVersionChangeKeepsABackupAndStartsFromAFreshCopy) {
    Put(userDB_, L"DBVersion", L"0");
    Put(userDB_, L"DevID", L"OLD-DATA");
    // The name the clock gives is taken: that earlier backup must survive.
    const std::wstring base = W(userDB_) + L"_" + config_.m_config.version + L"_0_";
    const fs::path taken = text::ToUtf8(base + L"345");
    std::ofstream(taken) << "earlier backup";
    comm_.m_bNewDatabase = false;

    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_TRUE(comm_.m_bNewDatabase);
    std::ifstream in(taken);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier backup");
    const fs::path backup = text::ToUtf8(base + L"346");
    ASSERT_TRUE(fs::exists(backup));
    EXPECT_EQ(Stored(backup, L"DevID"), L"OLD-DATA");
    EXPECT_EQ(Backups().size(), 2u);
    EXPECT_EQ(Stored(userDB_, L"DevID"), L"");
    EXPECT_EQ(Stored(userDB_, L"DBVersion"), config_.m_config.dbVersionInDefaultDB);
    EXPECT_EQ(config_.m_config.dbVersionInUserDB, config_.m_config.dbVersionInDefaultDB);
}

TEST_F(ConfigAfterLoginTest, ReplacementHappensAtMostOnce) {
    // The template itself now lacks the version read at start: its copy still differs.
    Drop(dir_ / "Quorv10.db", L"DBVersion");
    Put(userDB_, L"DBVersion", L"0");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_EQ(Backups().size(), 1u);
    EXPECT_TRUE(fs::exists(userDB_));
    EXPECT_TRUE(exitCodes_.empty());
}

TEST_F(ConfigAfterLoginTest, FailedCopyOfTheTemplateWarnsAndEnds) {
    Put(userDB_, L"DBVersion", L"0");
    config_.m_config.tempDBName = W(dir_ / "gone.db");
    comm_.m_bNewDatabase = false;
    EXPECT_EQ(config_.ReadAllConfigKey(), 0);
    EXPECT_EQ(boxes_, std::vector<std::wstring>{L"提示:用户库文件拷贝操作失败，请重新电脑再试，或者重新安装软件。"});
    EXPECT_EQ(exitCodes_, std::vector<int>{-1});
    EXPECT_FALSE(comm_.m_bNewDatabase);
    EXPECT_EQ(Backups().size(), 1u);
}

// A damaged file is kept aside, byte for byte, and the program goes on with a fresh copy.
TEST_F(ConfigAfterLoginTest, AnUnreadableOrIncompleteUserDatabaseIsSetAsideAndReplaced) {
    const auto run = [this](const wchar_t* statement) {
        return [this, statement] {
            CSqliteDB sql;
            sql.open(W(userDB_));
            sql.execDML(statement);
        };
    };
    const struct {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"empty", [this] { std::ofstream(userDB_, std::ios::trunc); }},
        {"no database", [this] { std::ofstream(userDB_, std::ios::trunc) << std::string(4096, 'x'); }},
        {"without tUser", run(L"drop table tUser;")},
        {"tUser emptied", run(L"delete from tUser;")},
        {"tUser without a column", run(L"alter table tUser drop column lastPluseTime;")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& backup : Backups()) fs::remove(backup);
        fs::remove(userDB_);
        fs::copy_file(dir_ / "Quorv10.db", userDB_);
        c.damage();
        const std::string damaged = ReadFileBytes(userDB_);
        EXPECT_EQ(config_.ReadAllConfigKey(), 1);
        EXPECT_TRUE(boxes_.empty());
        EXPECT_TRUE(exitCodes_.empty());
        ASSERT_EQ(Backups().size(), 1u);
        EXPECT_EQ(ReadFileBytes(Backups().front()), damaged);
        EXPECT_EQ(Stored(userDB_, L"DBVersion"), config_.m_config.dbVersionInDefaultDB);
    }
    // A template that cannot stand in either: the user is told and the program ends.
    fs::remove(userDB_);
    std::ofstream(userDB_) << "";
    std::ofstream(dir_ / "Quorv10.db", std::ios::trunc);
    EXPECT_EQ(config_.ReadAllConfigKey(), -1);
    EXPECT_EQ(boxes_, std::vector<std::wstring>{L"提示:用户库文件无法使用，请重新安装软件。"});
    EXPECT_EQ(exitCodes_, std::vector<int>{-1});
}

// ---- data-sync program ------------------------------------------------------------

TEST_F(ConfigAfterLoginTest, RunModeTwoNeverStartsTheDataSyncProgram) {
    g_nRunMode = 2;
    config_.m_config.DataSyncCheck = 2;
    Put(userDB_, L"DataSyncCheck", L"1");
    syncDue_ = 1;
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(asked_.empty());
    EXPECT_TRUE(started_.empty());
    EXPECT_TRUE(exitCodes_.empty());
}

TEST_F(ConfigAfterLoginTest, CheckRunsOnlyWhenTheSettingsOrTheUserAskForIt) {
    config_.m_config.DataSyncCheck = 0;
    Put(userDB_, L"DataSyncCheck", L"0");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(asked_.empty());

    Put(userDB_, L"DataSyncCheck", L"1");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_EQ(asked_, std::vector<std::wstring>{L"demo"});
    EXPECT_EQ(config_.m_config.dataSyncCheckInUserDB, 1);

    config_.m_config.DataSyncCheck = 3;  // bit 2 set
    Put(userDB_, L"DataSyncCheck", L"0");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_EQ(asked_.size(), 2u);
    EXPECT_TRUE(started_.empty());  // nothing was due
    EXPECT_EQ(Stored(userDB_, L"DataSyncCheck"), L"0");
}

TEST_F(ConfigAfterLoginTest, DueSyncStartsTheProgramWithSeparateArgumentsAndEnds) {
    config_.m_config.DataSyncCheck = 2;
    config_.m_config.HttpServiceAddr = L"http://127.0.0.1:18092/sync";
    syncDue_ = 1;
    EXPECT_EQ(config_.ReadAllConfigKey(), 0);
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].program, L"Halmor.exe");
    EXPECT_EQ(started_[0].args, (std::vector<std::wstring>{L"demo", L"p w\"1", L"http://127.0.0.1:18092/sync"}));
    EXPECT_EQ(exitCodes_, std::vector<int>{0});
    EXPECT_EQ(Stored(userDB_, L"DataSyncCheck"), L"1");
    EXPECT_EQ(comm_.GetStatusText(), L"启动数据同步程序，退出客户端......");
}

TEST_F(ConfigAfterLoginTest, AddressEndingInSlashGetsThePageAndAFailedStartGoesOn) {
    config_.m_config.DataSyncCheck = 2;
    syncDue_ = 1;
    startResult_ = false;
    config_.m_config.HttpServiceAddr = L"http://h/";
    Put(userDB_, L"ShowTipSeconds", L"4");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].args.at(2), L"http://h/DataSync/SyncCheck.aspx");
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_EQ(config_.m_config.ShowTipSeconds, 4);  // the settings are still read

    config_.m_config.HttpServiceAddr = L"";
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    ASSERT_EQ(started_.size(), 2u);
    EXPECT_EQ(started_[1].args.at(2), L"");
}

// ---- user-interface settings ------------------------------------------------------

TEST(ConfigWinInfoTest, ThreeNumbersWithAFlag) {
    EXPECT_EQ(CConfig::ParseWinInfo(L"5,10,20"), (std::array<int, 3>{1, 10, 20}));
    EXPECT_EQ(CConfig::ParseWinInfo(L""), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(CConfig::ParseWinInfo(L"0,-1,-1"), (std::array<int, 3>{0, -1, -1}));
    EXPECT_EQ(CConfig::ParseWinInfo(L"-3,7"), (std::array<int, 3>{1, 7, 0}));
}

TEST_F(ConfigAfterLoginTest, SettingsAreReadWithTheirDefaults) {
    for (const wchar_t* key : {L"ShowTodayNews", L"AutoHideFullScreen", L"NotifyMessageFullScreen", L"CloseAllSound",
                               L"CloseSwitchItemSound", L"CloseSystemTipSound", L"UpdateMode", L"DataSaveWay",
                               L"ShowMessageBox", L"SurroundWinInfo", L"ShowTipSeconds"})
        Drop(userDB_, key);
    Put(userDB_, L"FloatBarInfo", L"5,10,20");
    Put(userDB_, L"NoteWinInfo", L"");
    Put(userDB_, L"NotifyWinInfo", L"0,3,4");
    config_.m_config.ShowTodayNews = false;
    config_.m_config.CloseAllSound = true;
    config_.m_config.TipSeconds.fill(9);
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    const auto& c = config_.m_config;
    EXPECT_TRUE(c.ShowTodayNews);
    EXPECT_TRUE(c.AutoHideFullScreen);
    EXPECT_TRUE(c.NotifyMessageFullScreen);
    EXPECT_FALSE(c.CloseAllSound);
    EXPECT_FALSE(c.CloseSwitchItemSound);
    EXPECT_FALSE(c.CloseSystemTipSound);
    EXPECT_FALSE(c.ShowMessageBox);
    EXPECT_EQ(c.UpdateMode, 1);
    EXPECT_EQ(c.DataSaveWay, 2);
    EXPECT_EQ(c.ShowTipSeconds, 1);
    EXPECT_EQ(c.TipSeconds, (std::array<int, 6>{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(c.FloatBarInfo, (std::array<int, 3>{1, 10, 20}));
    EXPECT_EQ(c.NoteWinInfo, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(c.SurroundWinInfo, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(c.NotifyWinInfo, (std::array<int, 3>{0, 3, 4}));

    Put(userDB_, L"CloseAllSound", L"1");
    Put(userDB_, L"ShowTipSeconds", L"5");
    Put(userDB_, L"DataSaveWay", L"1");
    EXPECT_EQ(config_.ReadAllConfigKey(), 1);
    EXPECT_TRUE(c.CloseAllSound);
    EXPECT_EQ(c.TipSeconds, (std::array<int, 6>{5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(c.DataSaveWay, 1);
}

}  // namespace
