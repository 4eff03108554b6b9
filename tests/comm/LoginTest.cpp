// Login, re-login, keep-alive and data-sync check against a loopback server, in a
// temporary program folder made from the default database, with a login window made on
// this thread so its status notices can be read here.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CommFixture.h"
#include "CSqliteDB.h"
#include "CommandIds.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "LogReader.h"
#include "ReplyFields.h"
#include "LoginWin.h"
#include "MyDatabase.h"
#include "Profile.h"
#include "Quorvix.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"
#include "Window.h"
#include "MainFrame.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "realWeather.h"
#include "userExInfo.h"
#include "userInfo.h"
#include "userMess.h"
#include "weatherForecast.h"

namespace {

namespace fs = std::filesystem;
using Fields = std::vector<std::string>;

std::wstring W(const fs::path& p) { return text::FromUtf8(p.string()); }

int Number(CSqliteDB& db, const std::wstring& sql) { return text::WToI(db.execQuery(sql).getStringField(0).c_str()); }

class LoginTest : public CommTest {
protected:
    LoginTest() {
        MakeDefaultDatabase(dir_ / "Quorv10.db");
        fs::copy_file(IniTemplatePath(), dir_ / "Quorv10.ini");
        saved_ = g_Config.m_config;
        struConfig& c = g_Config.m_config;
        c.binDir = W(dir_.Path());
        c.tempDBName = W(dir_ / "Quorv10.db");
        c.iniFileName = W(dir_ / "Quorv10.ini");
        c.version = L"3.2.1";
        c.macAddress = L"00AABBCCDDEE";
        c.AreaCodeNo = 1010;
        c.LoginAccount = L"";
        c.UserNo = -1;
        c.RememberPassword = false;
        c.AutoLoginWhenRun = false;
        c.updateHtml = L"http://127.0.0.1/update.htm";
        comm_->m_nAreaCodeNo = c.AreaCodeNo;

        Hooks().isOnline = [] { return true; };
        Hooks().messageBox = [this](const std::wstring& text, const std::wstring&, UINT) {
            boxes_.push_back(text);
            return IDOK;
        };
        Hooks().startProgram = [this](const std::wstring& program, const std::vector<std::wstring>& args) {
            started_.push_back({program, args});
            return true;
        };
        Hooks().openDocument = [this](const std::wstring& target) {
            opened_.push_back(target);
            return true;
        };
        Hooks().exitProcess = [this](int code) {
            exitCode_ = code;
            ++exits_;
        };

        g_bAllDataLoaded = false;  // the first login opens the user database
        db_.SetLockTiming(150, 1);
        g_pMyDatabase = &db_;
    }
    ~LoginTest() override {
        EndWorkers();  // and the login thread
        if (g_pLoginWin == &loginWin_) g_pLoginWin = nullptr;
        g_pMyDatabase = nullptr;
        g_pUserInfo = nullptr;
        g_pWeatherForecast = nullptr;
        g_pRealWeather = nullptr;
        g_pLifeIndex = nullptr;
        g_Config.m_config = saved_;
        g_nRunState = 1;
    }

    void StartLoginWindow() {
        std::ofstream(dir_ / "login.htm") << "<html><body></body></html>";
        loginWin_.m_cs.ownThread = false;
        loginWin_.m_cs.page = W(dir_ / "login.htm");
        loginWin_.Start();
        g_pLoginWin = &loginWin_;
    }
    std::vector<int> Posted() {
        std::vector<int> ids;
        MSG msg;
        while (PeekMessageW(&msg, loginWin_.GetHwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE))
            ids.push_back(LOWORD(msg.wParam));
        return ids;
    }

    // A successful login reply for the user ID, user number 77, area code as given.
    void AnswerLogin(const std::string& userID, const std::string& areaCode = "0") {
        server_.OnCommand(COMMAND_USER_LOGIN, [=](const PacketRequest&) {
            return PacketReply::Fields({"0", "ok", "11", areaCode, "note", "0", "77", userID});
        });
    }
    std::wstring Ini(const wchar_t* key) {
        wchar_t buf[512] = {};
        GetPrivateProfileStringW(L"Login", key, L"<absent>", buf, 512, W(dir_ / "Quorv10.ini").c_str());
        return buf;
    }
    std::vector<std::uint16_t> Commands() {
        std::vector<std::uint16_t> ids;
        for (const PacketRequest& r : server_.Requests()) ids.push_back(r.commandId);
        return ids;
    }

    struct Started {
        std::wstring program;
        std::vector<std::wstring> args;
    };

    TempDir dir_;
    struConfig saved_;
    CMyDatabase db_;
    CLoginWin loginWin_;
    std::vector<std::wstring> boxes_;
    std::vector<Started> started_;
    std::vector<std::wstring> opened_;
    std::atomic<int> exits_{0};  // the exit hook runs on a worker for a re-login
    std::atomic<int> exitCode_{-1};
};

TEST_F(LoginTest, OfflineLoginSendsNothingAndShowsTheFailure) {
    StartLoginWindow();
    Hooks().isOnline = [] { return false; };
    ASSERT_EQ(comm_->UserLogin_asyn(L"ann", L"pw", false, false), 0);
    std::vector<int> posted;
    ASSERT_TRUE(WaitFor([&] { return !(posted = Posted()).empty(); }));  // the state is set before the notice

    EXPECT_EQ(comm_->m_nLoginState, 3);
    EXPECT_EQ(comm_->m_nRetCode, -1);
    EXPECT_EQ(comm_->GetStatusText(), L"登录失败---通讯失败。");
    EXPECT_EQ(posted, (std::vector<int>{ID_CMD_LOGIN_STATUS}));
    EXPECT_EQ(server_.RequestCount(), 0u);
    EXPECT_FALSE(Worker()->IsBusy());  // the worker chosen for it is free again
}

TEST_F(LoginTest, DestroyingTheObjectMidLoginWaitsForTheLoginToEnd) {
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"-3", "late"});
        reply.delay = std::chrono::milliseconds(200);
        return reply;
    });
    ASSERT_EQ(comm_->UserLogin_asyn(L"ann", L"pw", false, false), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EndWorkers();  // the login still waits for its reply on a worker
    EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(LoginTest, LoginWithoutAWorkerEndsFailedInsteadOfInProgress) {
    CCommunication bare;  // no worker at all
    g_pCommunication = &bare;
    EXPECT_EQ(bare.UserLogin_syn(L"ann", L"pw"), -2);
    EXPECT_EQ(bare.m_nLoginState, 3);
    EXPECT_EQ(bare.GetStatusText(), L"登录失败---通讯失败。");
    g_pCommunication = comm_.get();
}

TEST_F(LoginTest, FirstLoginMakesTheUserDataAndASecondCopiesNothing) {
    AnswerLogin("ann@x.org");
    comm_->SetLoginAccount(L"ann");
    ASSERT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), 0);

    const PacketRequest r = server_.Requests().at(0);
    EXPECT_EQ(r.commandId, COMMAND_USER_LOGIN);
    EXPECT_EQ(r.fields, (Fields{"ann", "pw", "3.2.1", "0", "00AABBCCDDEE", "7C2E9A04B5D1F386",
                                "Windows[" + std::to_string(g_nOsVersion.load()) + "]", "syn"}));

    const fs::path db = dir_ / "quorv_ann@x.org" / "Quorv10_ann@x.org.db";
    ASSERT_TRUE(fs::exists(db));
    EXPECT_EQ(g_Config.m_config.userDBName, W(db));
    EXPECT_EQ(comm_->m_nLoginState, 2);
    EXPECT_EQ(comm_->m_nUserNo, 77);
    EXPECT_EQ(comm_->GetUserID(), L"ann@x.org");
    EXPECT_TRUE(comm_->m_bNewDatabase);
    // Area code 0: the configured one, and the default database keeps its value.
    EXPECT_EQ(comm_->m_nAreaCodeNo, 1010);
    {
        CSqliteDB check;
        check.open(W(db));
        EXPECT_EQ(Number(check, L"select count(*) from tHealthElement where userNo<>77"), 0);
        EXPECT_GT(Number(check, L"select count(*) from tHealthElement"), 0);
        check.execDML(L"create table tMarker(x)");
        check.close();
        CSqliteDB defaults;
        defaults.open(W(dir_ / "Quorv10.db"));
        EXPECT_EQ(Number(defaults, L"select count(*) from tConfig2 where ID='AreaCodeNo' and value='0'"),
                  0);
    }

    ASSERT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), 0);
    EXPECT_EQ(comm_->m_nLoginState, 2);
    CSqliteDB again;
    again.open(W(db));
    EXPECT_EQ(Number(again, L"select count(*) from sqlite_master where name='tMarker'"), 1);
}

// The user database runs in WAL mode: a file removed after an abrupt end leaves its log
// beside the name, which SQLite would play into the fresh copy made there.
TEST_F(LoginTest, AFreshCopyTakesNothingOfALogLeftBesideTheName) {
    const fs::path folder = dir_ / "quorv_ann@x.org";
    const fs::path db = folder / "Quorv10_ann@x.org.db";
    fs::create_directory(folder);
    MakeDefaultDatabase(db);
    {
        CSqliteDB left;
        left.open(W(db));
        left.useWriteAheadLog();
        sqlite3_db_config(left.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        left.execDML(L"create table tLeftOver(x)");
    }
    fs::remove(db);
    ASSERT_TRUE(fs::exists(db.string() + "-wal"));
    AnswerLogin("ann@x.org");
    ASSERT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), 0);
    EXPECT_TRUE(comm_->m_bNewDatabase);
    CSqliteDB check;
    check.open(W(db));
    EXPECT_EQ(Number(check, L"select count(*) from sqlite_master where name='tLeftOver'"), 0);
    EXPECT_EQ(check.execQuery(L"pragma integrity_check").getStringField(0), L"ok");
}

TEST_F(LoginTest, TheLoginSectionFollowsRememberPassword) {
    AnswerLogin("ann");
    ASSERT_EQ(comm_->UserLogin_asyn(L"ann", L"密码", false, false), 0);
    ASSERT_TRUE(WaitFor([&] { return comm_->m_nLoginState == 2; }));
    EXPECT_EQ(Ini(L"LoginAccount"), L"ann");
    EXPECT_EQ(Ini(L"LoginPassword"), L"");
    EXPECT_EQ(Ini(L"UserID"), L"");
    EXPECT_EQ(Ini(L"UserNo"), L"");

    comm_->m_nLoginState = 0;
    ASSERT_EQ(comm_->UserLogin_asyn(L"ann", L"密码", true, true), 0);
    ASSERT_TRUE(WaitFor([&] { return comm_->m_nLoginState == 2; }));
    EXPECT_EQ(Ini(L"LoginPassword"), L"$w9zC6w==");  // the GBK bytes C3 DC C2 EB
    EXPECT_EQ(Ini(L"UserID"), L"ann");
    EXPECT_EQ(Ini(L"UserNo"), L"77");
    EXPECT_EQ(Ini(L"RememberPassword"), L"1");
    EXPECT_EQ(Ini(L"AutoLoginWhenRun"), L"1");
}

TEST_F(LoginTest, UserIDsThatCouldLeaveTheProgramFolderAreRefused) {
    EXPECT_TRUE(CCommunication::IsSafeUserID(L"a.b-c_d@e9"));
    for (const std::wstring id : {L"", L"..", L"a..b", L"a/b", L"a\\b", L"名字", L"a b"})
        EXPECT_FALSE(CCommunication::IsSafeUserID(id)) << text::ToUtf8(id);

    StartLoginWindow();
    AnswerLogin("../../evil");
    ASSERT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), -2);
    EXPECT_EQ(comm_->m_nLoginState, 3);
    EXPECT_EQ(Posted(), (std::vector<int>{ID_CMD_LOGIN_STATUS}));
    EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "evil"));
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("quorv_", 0), 0u) << entry.path();
    EXPECT_EQ(CountLogLines(L"invalid user ID [../../evil] refused"), 1);
}

TEST_F(LoginTest, ARefusedLoginStaysAtThePageWithTheServersText) {
    StartLoginWindow();
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) { return PacketReply::Fields({"-3", "bad"}); });
    EXPECT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), -3);
    EXPECT_EQ(comm_->m_nLoginState, 3);
    EXPECT_EQ(comm_->GetStatusText(), L"bad");
    EXPECT_EQ(Posted(), (std::vector<int>{ID_CMD_LOGIN_STATUS}));
    EXPECT_EQ(exits_, 0);
}

TEST_F(LoginTest, ANewerVersionStartsBrevikWithTheJoinedFieldsThenEnds) {
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) {
        return PacketReply::Fields({"-5", "update", "f3", "f 4", "f5;rm", "f6", "f7"});
    });
    EXPECT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), -5);
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].program, L"Brevik.exe");
    EXPECT_EQ(started_[0].args, (std::vector<std::wstring>{L"f 4|3.2.1|f3|f5;rm|f6|f7|"}));
    EXPECT_EQ(exits_, 1);
    EXPECT_EQ(exitCode_, 0);
}

TEST_F(LoginTest, ARetiredClientShowsTheTextOpensTheUpdatePageAndEnds) {
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) { return PacketReply::Fields({"-4", "retired"}); });
    EXPECT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), -4);
    EXPECT_EQ(boxes_, (std::vector<std::wstring>{L"retired"}));
    EXPECT_EQ(opened_, (std::vector<std::wstring>{L"http://127.0.0.1/update.htm"}));
    EXPECT_EQ(exits_, 1);
}

TEST_F(LoginTest, LogoutSendsTheUserNumberOnlyWhileLoggedIn) {
    EXPECT_EQ(comm_->UserLogout_syn(), -1);  // no user number yet
    EXPECT_EQ(server_.RequestCount(), 0u);
    EXPECT_FALSE(Worker()->IsBusy());
    comm_->m_nUserNo = 77;
    EXPECT_GT(comm_->UserLogout_syn(), 0);
    const PacketRequest r = server_.Requests().at(0);
    EXPECT_EQ(r.commandId, COMMAND_USER_LOGOUT);
    EXPECT_EQ(r.fields, (Fields{"77", "3.2.1", "00AABBCCDDEE", "7C2E9A04B5D1F386",
                                "Windows[" + std::to_string(g_nOsVersion.load()) + "]", "note"}));
}

TEST_F(LoginTest, KeepAliveQueuesTheChangedThingsInOrder) {
    CUserInfo user;
    struUserW profile;
    profile.syncNo = 5;
    user.SetUser(profile);
    g_pUserInfo = &user;
    CWeatherForecast forecast;
    CRealWeather live;
    CLifeIndex lifeIndex;
    forecast.m_nForecastMessNo = 1;
    live.m_nRealMessNo = 2;
    lifeIndex.m_nLiveIndexMessNo = 30;  // unchanged below: no request
    g_pWeatherForecast = &forecast;
    g_pRealWeather = &live;
    g_pLifeIndex = &lifeIndex;
    comm_->m_nUserNo = 77;

    // user 6, ext 0, forecast 10, live 20, life index 30, ..., N = 2 and its fields.
    std::vector<std::wstring> f = {L"0", L"6", L"0", L"10", L"20", L"30"};
    while (f.size() < 20) f.push_back(L"0");
    for (const wchar_t* more : {L"2", L"4", L"5", L"8", L"9"}) f.push_back(more);
    EXPECT_EQ(comm_->PluseCheckBussProc(JoinFields(f)), 0);

    ASSERT_TRUE(server_.WaitForRequests(3));
    EXPECT_EQ(Commands(), (std::vector<std::uint16_t>{COMMAND_USERINFO_QUEST, COMMAND_WEATHERFORECAST_QUEST,
                                                      COMMAND_WEATHERLIVE_QUEST}));
    EXPECT_EQ(server_.Requests()[0].fields, (Fields{"77", "6", "5"}));
    EXPECT_EQ(server_.Requests()[1].fields, (Fields{"77", "1010", "10", "1"}));
    EXPECT_EQ(comm_->m_nPluseCheckNo[4], 10);

    // A count far past the fields present is cut to them, without a long loop.
    f[20] = L"2000000000";
    EXPECT_EQ(comm_->PluseCheckBussProc(JoinFields(f)), 0);
    EXPECT_EQ(CountLogLines(L"parameter count 2000000000 clamped to 2"), 1);
    ASSERT_TRUE(server_.WaitForRequests(6));
    // A reply without its fixed fields asks for nothing.
    const std::size_t before = server_.RequestCount();
    EXPECT_EQ(comm_->PluseCheckBussProc(L"0\x02ok\x02"), 0);
    EXPECT_FALSE(server_.WaitForRequests(before + 1, std::chrono::milliseconds(100)));
    EndWorkers();  // before the objects the replies reach go
}

TEST_F(LoginTest, KeepAliveAsksForTheProfileExtensionNewerMessagesAndChangedParameters) {
    // A user database as loading left it: extended profile sync 3, user messages up
    // to 5, parameter 2 already at sync 9 (the others at 0).
    g_Config.m_config.userDBName = W(dir_ / "Quorv10.db");
    ASSERT_EQ(db_.Init(), 0);
    ASSERT_EQ(db_.ExecSQL(L"update tUserExp set userNo=77, syncNo=3"), 1);
    ASSERT_EQ(db_.ExecSQL(L"insert into tUserMess (userNo, userMessNo, userMess) values (77, 5, 'hi')"), 1);
    ASSERT_EQ(db_.ExecSQL(L"update tParameter set syncNo=9 where parameterNo=2"), 1);
    CUserExInfo userExp;
    CParameter parameters;
    CUserMess userMess;
    ASSERT_EQ(userExp.ReadUserExFromDB(), 1);
    ASSERT_EQ(parameters.ReadParameterFromDB(), 1);
    userMess.LoadFromDB();
    g_pUserExInfo = &userExp;
    g_pParameter = &parameters;
    g_pUserMess = &userMess;
    comm_->m_nUserNo = 77;

    // ext 4, user messages 6; N = 3: parameter 1 moved to 4, parameter 2 still at 9, parameter 3 at 7.
    std::vector<std::wstring> f = {L"0", L"0", L"4"};
    while (f.size() < 20) f.push_back(L"0");
    f[8] = L"6";
    for (const wchar_t* more : {L"3", L"4", L"9", L"7", L"0", L"0"}) f.push_back(more);

    // The feeds are asked for only while the main window is up: without it, and without
    // the profile extension and the parameters, nothing is asked for.
    std::vector<std::wstring> quiet = f;
    quiet[2] = L"0";
    quiet[20] = L"0";
    EXPECT_EQ(comm_->PluseCheckBussProc(JoinFields(quiet)), 0);
    EXPECT_FALSE(server_.WaitForRequests(1, std::chrono::milliseconds(100)));

    // Set while the workers wait for work: a queued request carries it to them.
    std::ofstream(dir_ / "main.htm") << "<html><body></body></html>";
    CMainFrame frame;
    frame.m_cs.ownThread = false;
    frame.m_cs.page = W(dir_ / "main.htm");
    frame.Start();
    g_pMainFrame = &frame;
    EXPECT_EQ(comm_->PluseCheckBussProc(JoinFields(f)), 0);

    ASSERT_TRUE(server_.WaitForRequests(4));
    EXPECT_FALSE(server_.WaitForRequests(5, std::chrono::milliseconds(100)));
    EXPECT_EQ(Commands(), (std::vector<std::uint16_t>{COMMAND_USEREXINFO_QUEST, COMMAND_USERMESS_QUEST,
                                                      COMMAND_PARAMETER_QUEST, COMMAND_PARAMETER_QUEST}));
    EXPECT_EQ(server_.Requests()[0].fields, (Fields{"77", "4", "3"}));
    EXPECT_EQ(server_.Requests()[1].fields, (Fields{"77", "6", "5"}));
    EXPECT_EQ(server_.Requests()[2].fields, (Fields{"77", "1", "4"}));
    EXPECT_EQ(server_.Requests()[3].fields, (Fields{"77", "3", "7"}));

    EndWorkers();
    MSG msg;  // the replies' refresh notices: the frame's handler frees what they carry
    while (PeekMessageW(&msg, frame.GetHwnd(), 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    g_pMainFrame = nullptr;
    g_pUserExInfo = nullptr;
    g_pParameter = nullptr;
    g_pUserMess = nullptr;
}

// The login's record is taken once its data is loaded; a keep-alive answered before that
// (here during the loading's data-sync check) compares with the sync number the login
// brought, so it does not ask again for the profile that came with the login.
TEST_F(LoginTest, AKeepAliveAnsweredWhileTheLoginLoadsAsksNotForTheProfileItBrought) {
    {  // the template's versions, as start-up reads them, so that the loading goes on to the check
        CSqliteDB defaults;
        defaults.open(g_Config.m_config.tempDBName);
        const auto value = [&](const wchar_t* id) {
            return defaults.execQuery(std::wstring(L"select value from tConfig2 where ID='") + id + L"'").getStringField(0);
        };
        g_Config.m_config.versionInDefaultDB = value(L"Version");
        g_Config.m_config.dbVersionInDefaultDB = value(L"DBVersion");
    }
    CUserInfo user;
    g_pUserInfo = &user;
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) {
        PacketReply reply;
        reply.payload = "0\x02ok\x02" "11\x02" "0\x02" "note\x02" "0\x02" "77\x02" "ann\x02";
        for (int field = 9; field <= 32; ++field) reply.payload += field == 30 ? "5\x02" : "1\x02";  // syncNo 5
        reply.payload += '\0';
        return reply;
    });
    server_.OnCommand(COMMAND_DATASYNC_CHECK, [this](const PacketRequest&) {
        std::vector<std::wstring> keepAlive(23, L"0");
        keepAlive[1] = L"5";
        comm_->PluseCheckBussProc(JoinFields(keepAlive));
        return PacketReply::Fields({"0", "ok"});
    });
    ASSERT_EQ(comm_->UserLogin_syn(L"ann", L"pw"), 0);
    EXPECT_EQ(user.GetField(&struUserW::syncNo), 5);
    EXPECT_FALSE(server_.WaitForRequests(3, std::chrono::milliseconds(100)));
    EndWorkers();
    g_pUserInfo = nullptr;
    EXPECT_EQ(Commands(), (std::vector<std::uint16_t>{COMMAND_USER_LOGIN, COMMAND_DATASYNC_CHECK}));
}

TEST_F(LoginTest, KeepAliveNeverTakesADeletedRecordNumberForAParameter) {
    g_Config.m_config.userDBName = W(dir_ / "Quorv10.db");
    ASSERT_EQ(db_.Init(), 0);
    CParameter parameters;
    ASSERT_EQ(parameters.ReadParameterFromDB(), 1);
    g_pParameter = &parameters;
    comm_->m_nUserNo = 77;

    // N = 3, but only one parameter number came before the two deleted-record numbers.
    std::vector<std::wstring> f(20, L"0");
    for (const wchar_t* more : {L"3", L"4", L"5", L"8"}) f.push_back(more);
    EXPECT_EQ(comm_->PluseCheckBussProc(JoinFields(f)), 0);

    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_FALSE(server_.WaitForRequests(2, std::chrono::milliseconds(100)));
    EndWorkers();
    g_pParameter = nullptr;
    EXPECT_EQ(Commands(), (std::vector<std::uint16_t>{COMMAND_PARAMETER_QUEST}));
    EXPECT_EQ(server_.Requests()[0].fields, (Fields{"77", "1", "4"}));
    EXPECT_EQ(CountLogLines(L"parameter count 3 clamped to 1"), 1);
}

TEST_F(LoginTest, KeepAliveMinusTwoLogsInAgainAndARefusalEndsTheProgram) {
    comm_->SetLoginAccount(L"ann");
    comm_->SetLoginPassword(L"pw");
    comm_->SetUserID(L"ann-id");
    server_.OnCommand(COMMAND_PLUSECHECK, [](const PacketRequest&) { return PacketReply::Fields({"-2", "again"}); });
    server_.OnCommand(COMMAND_USER_LOGIN, [](const PacketRequest&) { return PacketReply::Fields({"-7", "stopped"}); });

    // The keep-alive as the worker carries it: its reply reaches the handler.
    comm_->SendAndRecv(Context(COMMAND_PLUSECHECK, "77\x02", COMM_MODE_ASYNC));
    ASSERT_TRUE(server_.WaitForRequests(2));
    const PacketRequest relogin = server_.Requests()[1];
    EXPECT_EQ(relogin.commandId, COMMAND_USER_LOGIN);
    EXPECT_EQ(relogin.fields.at(0), "ann");
    EXPECT_EQ(relogin.fields.at(7), "asyn");

    ASSERT_TRUE(WaitFor([&] { return exits_ > 0; }));
    EXPECT_EQ(comm_->m_nLoginState, 3);
    EXPECT_EQ(CountLogLines(L"[ann-id]登录失败[-7][stopped]! 结束程序。"), 1);
}

TEST_F(LoginTest, DataSyncCheckRunsOnlyReadOnlyStatementsOfKnownDatabases) {
    g_Config.m_config.userDBName = g_Config.m_config.tempDBName;
    const auto answer = [&](const std::string& reply) {
        server_.OnCommand(COMMAND_DATASYNC_CHECK, [reply](const PacketRequest&) {
            PacketReply r;
            r.payload = reply + '\0';
            return r;
        });
        return comm_->QuestDataSyncCheck_syn(L"ann", L"");
    };
    const auto record = [](const std::string& db, const std::string& sql) {
        return "a\x02" "b\x02" + db + "\x02" "d\x02" "e\x02" "f\x02" "g\x02" + sql + "\x02";
    };
    EXPECT_EQ(answer(record("userDB", "select 1")), 1);
    EXPECT_EQ(server_.Requests().at(0).fields, (Fields{"ann", "-1", "-1", "syn"}));
    EXPECT_EQ(answer(record("defaultDB", "select 2")), 0);
    EXPECT_EQ(answer(record("otherDB", "select 1") + "\x03" + record("userDB", "select 1")), 0);
    // A write is never run, even when it would answer 1.
    EXPECT_EQ(answer(record("userDB", "delete from tConfig2 returning 1")), 0);
    EXPECT_EQ(answer(record("userDB", "select 1; delete from tConfig2")), 0);
    CSqliteDB check;
    check.open(g_Config.m_config.tempDBName);
    EXPECT_GT(Number(check, L"select count(*) from tConfig2"), 0);
}

}  // namespace
