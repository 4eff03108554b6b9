// The default database and settings file: what the program relies on finding.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DefaultDatabase.h"
#include "TempDir.h"

namespace {

using Row = std::vector<std::string>;

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

// Opens without SQLITE_OPEN_CREATE: a missing file is an error, as in the program.
DbPtr Open(const std::string& file) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    DbPtr db(raw);
    EXPECT_EQ(rc, SQLITE_OK) << file << ": " << (raw ? sqlite3_errmsg(raw) : "");
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    return db;
}

// Every column as text, as the program's readers take them; NULL reads "".
std::vector<Row> Query(sqlite3* db, const std::string& sql) {
    std::vector<Row> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto* text = sqlite3_column_text(stmt, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
}

// Runs one statement; the number of rows it changed, or -1 on error.
int Exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        ADD_FAILURE() << (message ? message : "") << " in " << sql;
        sqlite3_free(message);
        return -1;
    }
    return sqlite3_changes(db);
}

std::string One(sqlite3* db, const std::string& sql) {
    const auto rows = Query(db, sql);
    return rows.empty() || rows[0].empty() ? std::string("<no row>") : rows[0][0];
}

std::set<std::string> Tables(sqlite3* db) {
    std::set<std::string> names;
    for (const auto& row : Query(db, "select name from sqlite_master where type='table';")) {
        names.insert(row[0]);
    }
    return names;
}

std::vector<std::string> Columns(sqlite3* db, const std::string& table) {
    std::vector<std::string> names;
    for (const auto& row : Query(db, "pragma table_info(" + table + ");")) {
        names.push_back(row[1]);
    }
    return names;
}

class DefaultDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDefaultDatabase(file_);
        db_ = Open(file_.string());
        ASSERT_TRUE(db_);
    }

    TempDir dir_;
    std::filesystem::path file_ = dir_ / "Quorv10.db";
    DbPtr db_;
};

TEST_F(DefaultDatabaseTest, ShippedDatabaseMatchesAFreshOne) {
    const auto shipped = Open(QUORV_DIST_DB);
    ASSERT_TRUE(shipped);
    EXPECT_EQ(Tables(shipped.get()), Tables(db_.get()));
    EXPECT_EQ(One(shipped.get(), "select value from tConfig2 where ID='Version';"),
              One(db_.get(), "select value from tConfig2 where ID='Version';"));
}

TEST_F(DefaultDatabaseTest, EveryTableExists) {
    const std::set<std::string> expected = {
        "tConfig2", "tSerialNo", "tMaxDeletedRecNo", "tDictIndexID", "tDictWindDirection", "tDictWeather",
        "tDictSolarTerms", "tWeatherAreaCode", "tAreaNo", "tUser", "tUserExp", "tUserEnvironment", "tParameter",
        "tUserAssessReport", "tPublicMess", "tUserMess", "tUserTypeMess", "tUserGroupMess", "tRealWeather",
        "tWeatherForecast", "tLiveIndex", "tHealthElementType", "tHealthElementSourceType", "tHealthElementSource",
        "tHealthElement", "tHealthElementDataList", "tUserActionDataList", "tHealthNote", "tFuncOp",
        "tFocusArticle", "tArticle", "tDeviceDataList_122", "tPedoTarget", "tDeviceDataList_1002", "tUserDevice",
        "tAlertConfig", "tAlertConfigDetail", "tAlertConfigItem", "tAlertList", "tAlertExpired", "tUserOpData",
        "tAppType", "tApplication", "tTesting"};
    ASSERT_EQ(expected.size(), 44u);
    EXPECT_EQ(Tables(db_.get()), expected);
}

// Tables read with "select *" or inserted without a column list: positions are the contract.
TEST_F(DefaultDatabaseTest, ColumnsReadByPositionKeepTheirOrder) {
    struct Fixed {
        std::string table;
        std::vector<std::string> columns;
        bool whole;  // false: only the leading columns are fixed
    };
    std::vector<std::string> assess = {"userNo", "assessDate", "assessPoint_all", "assessRank_all", "assessNote_all"};
    for (int n = 0; n <= 9; ++n) {
        assess.push_back("assessPoint_type" + std::to_string(n));
        assess.push_back("assessRank_type" + std::to_string(n));
    }
    assess.insert(assess.end(), {"syncNo", "status", "note"});

    const std::vector<Fixed> fixed = {
        {"tUser",
         {"userNo", "userID", "userRegName", "userPass", "userRegDate", "deviceID", "loginStatus", "lastLoginTime",
          "lastPluseTime", "lastOpTime", "ipAddr", "areaNo", "areaCodeNo", "userType", "userGroupNo",
          "userArticleGroupNo", "userMessNo", "experienceNo", "experienceRank", "pointNo", "pointRank",
          "assessPoint", "assessRank", "syncNo", "status", "note", "modifyTime"},
         true},
        {"tUserExp",
         {"userNo", "userID", "userRegIpAddr", "userPhone", "userMobile", "userEmail", "userQQ", "userMSN",
          "userLinkAddr", "userBlog", "userMicroBlog", "userName", "userSex", "userBirthday", "userHeight",
          "userWeight", "userBust", "userWaistline", "userHip", "userDuties", "userIndustry", "userLaborIntensity",
          "syncNo", "status", "note", "modifyTime"},
         true},
        {"tParameter", {"parameterNo", "parameterID", "value", "syncNo", "status", "note"}, false},
        {"tUserAssessReport", assess, true},
        {"tRealWeather",
         {"areaCodeNo", "solarCalendar", "lunarCalendar", "solarTermsNo", "solarTermsName", "pubTime", "realMessNo",
          "gatherTime", "realWeatherNo", "realWeatherName", "realTemperature", "realMinTemperature",
          "realMaxTemperature", "realHumidity", "realMinHumidity", "realMaxHumidity", "realWindDirectionNo",
          "realWindDirectionName", "realWindLevel", "realMinWindLevel", "realMaxWindLevel", "status", "note",
          "modifyTime"},
         true},
        {"tWeatherForecast",
         {"areaCodeNo", "solarCalendar", "dayNight", "lunarCalendar", "solarTermsNo", "solarTermsName", "pubTime",
          "forecastMessNo", "gatherTime", "weatherNo", "weatherName", "minTemperature", "maxTemperature",
          "minHumidity", "maxHumidity", "windDirectionNo", "windDirectionName", "minWindLevel", "maxWindLevel",
          "status", "note", "modifyTime"},
         true},
        {"tLiveIndex",
         {"areaCodeNo", "solarCalendar", "pubTime", "liveIndexMessNo", "gatherTime", "indexID", "indexLevel",
          "indexNote", "status", "note", "modifyTime"},
         true},
        {"tFuncOp",
         {"funcID", "funcName", "totalCount", "lastOpTime", "lowerSecond", "opValueA1", "opValueB1", "middleSecond",
          "opValueA2", "opValueB2", "upperSecond", "opValueA3", "opValueB3", "status", "note", "modifyTime"},
         true},
        {"tAlertConfigItem",
         {"alertNo", "no", "itemName", "itemOperator", "itemValue", "duraMinute", "itemNo", "status", "note"},
         false},
        {"tAlertList",
         {"alertDate", "alertNo", "no", "alertType", "message", "summary", "duraMinute", "alertMinute",
          "lastAlertTime", "actionNo", "actionRuleFlag", "status", "note", "modifyTime"},
         true},
    };
    ASSERT_EQ(fixed[0].columns.size(), 27u);
    ASSERT_EQ(fixed[3].columns.size(), 28u);
    for (const auto& f : fixed) {
        auto actual = Columns(db_.get(), f.table);
        if (!f.whole && actual.size() > f.columns.size()) {
            actual.resize(f.columns.size());
        }
        EXPECT_EQ(actual, f.columns) << f.table;
    }
}

TEST_F(DefaultDatabaseTest, StartsWithTheRowsTheProgramOnlyUpdates) {
    for (const char* table : {"tUser", "tUserExp", "tRealWeather", "tPedoTarget", "tMaxDeletedRecNo"}) {
        EXPECT_EQ(One(db_.get(), std::string("select count(*) from ") + table + ";"), "1") << table;
    }

    std::map<std::string, std::string> config;
    for (const auto& row : Query(db_.get(), "select ID,value from tConfig2 where status='1' ;")) {
        config[row[0]] = row[1];
    }
    for (const char* key : {"Version", "DBVersion", "updateHtml", "TrayIconHint", "DevID", "AreaCodeNo",
                            "LocalUrlHead", "RemoteUrlHead", "DataSyncCheck", "FloatBarInfo", "SurroundWinInfo",
                            "NavigateWinInfo", "AppWinInfo", "NotifyWinInfo", "NoteWinInfo", "CloseMsgSound",
                            "CloseSystemTipSound"}) {
        EXPECT_TRUE(config.count(key)) << key;
    }
    EXPECT_EQ(config["TrayIconHint"], "Quorvix---关心您的健康");

    EXPECT_EQ(Query(db_.get(), "select serialCode from tSerialNo order by serialCode;"),
              (std::vector<Row>{{"5000"}, {"5010"}, {"5020"}}));
}

TEST_F(DefaultDatabaseTest, SettingsFileVersionMatchesTheDatabase) {
    std::ifstream in(IniTemplatePath());
    ASSERT_TRUE(in) << IniTemplatePath();
    std::string line, section, version = "<missing>";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            section = line;
        } else if (section == "[Login]" && line.rfind("Version=", 0) == 0) {
            version = line.substr(8);
        }
    }
    EXPECT_EQ(version, One(db_.get(), "select value from tConfig2 where ID='Version' and status='1';"));
}

// A value update is refused when the element's type or source is not in its dictionary.
TEST_F(DefaultDatabaseTest, HealthElementsReferToListedTypesAndSources) {
    EXPECT_EQ(Query(db_.get(), "select healthElementID from tHealthElement where healthElementType not in "
                               "(select healthElementType from tHealthElementType where status='1');"),
              std::vector<Row>{});
    EXPECT_EQ(Query(db_.get(), "select healthElementID from tHealthElement where sourceNo not in "
                               "(select sourceNo from tHealthElementSourceType where status='1');"),
              std::vector<Row>{});
    const std::string sourceOf = "select sourceNo from tHealthElement where healthElementID=";
    const int steps = std::stoi(One(db_.get(), sourceOf + "'pedoNumberOfSteps';"));
    EXPECT_TRUE(steps >= 120 && steps <= 129) << steps;
    EXPECT_EQ(One(db_.get(), sourceOf + "'diastolicBloodPressure';"), "1002");
}

// Statements as the program formats them, run on a fresh copy.
TEST_F(DefaultDatabaseTest, ProgramStatementsRunAndChangeTheExpectedRows) {
    sqlite3* db = db_.get();

    // Login: the one tUser row is rewritten without a where clause, then found by userNo.
    EXPECT_EQ(Exec(db, "update tUser set userNo=1001, userID='li', userRegName='', userPass='', "
                       "userRegDate=20120305,\t\t\tdeviceID='', loginStatus='1', lastLoginTime='', "
                       "lastPluseTime='', lastOpTime='', ipAddr='',\t\t\tareaNo=1, areaCodeNo=101010100,"
                       "userType='1', userGroupNo=2, userArticleGroupNo=3, userMessNo=0, experienceNo=0, "
                       "pointNo=0,\t\t\tsyncNo=7, status='1', note='', modifyTime = datetime('now','localtime');"),
              1);
    EXPECT_EQ(Exec(db, "update tUser set userRegName='Li',userArticleGroupNo=4, syncNo=8, note='n' "
                       "where userNo=1001"),
              1);
    EXPECT_EQ(Query(db, "select userNo, userRegName, syncNo from tUser ;"),
              (std::vector<Row>{{"1001", "Li", "8"}}));

    EXPECT_EQ(Exec(db, "update tConfig2 set value='101010100',modifyTime=datetime('now','localtime') "
                       "where ID = 'AreaCodeNo' ;"),
              1);
    EXPECT_EQ(One(db, "select value from tConfig2 where ID='AreaCodeNo' and status='1';"), "101010100");

    EXPECT_EQ(Exec(db, "insert into tAlertList values (20240301,5,1,'1','喝水','',60,930,'2024-03-01 09:30:00',-1,'0',"
                       "'1','',datetime('now','localtime'));"),
              1);
    const auto alerts =
        Query(db, "select * from tAlertList where alertDate=20240301 and alertType = '1' order by alertMinute desc;");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].size(), 14u);
    EXPECT_EQ(alerts[0][4], "喝水");

    // A page adds a function without a count; the use counter must still count.
    Exec(db, "insert into tFuncOp (funcID, funcName) values ('news', 'news');");
    EXPECT_EQ(Exec(db, "update tFuncOp set totalCount = totalCount +1, lastOpTime = datetime('now','localtime'), "
                       "modifyTime = datetime('now','localtime') where funcID = 'news';"),
              1);
    EXPECT_EQ(One(db, "select totalCount from tFuncOp where funcID='news';"), "1");

    // The application-type insert leaves status out; the reader only sees status '1'.
    Exec(db, "insert into tAppType (appType, appTypeName, ratio, note, modifyTime)\tvalues (7, 'game', 50, '', "
             "datetime('now','localtime'));");
    EXPECT_EQ(One(db, "select count(*) from tAppType where status = '1' and appType = 7;"), "1");
}

// Numbers must be stored as numbers: message numbers 9 and 10, dates against strftime().
TEST_F(DefaultDatabaseTest, NumbersCompareAsNumbers) {
    sqlite3* db = db_.get();
    Exec(db, "insert into tPublicMess (publicMessNo, publicMess) values ('9', 'a'), ('10', 'b');");
    EXPECT_EQ(One(db, "select max(publicMessNo) from tPublicMess;"), "10");

    Exec(db, "insert into tWeatherForecast (areaCodeNo, solarCalendar, dayNight) values "
             "(1, cast(strftime('%Y%m%d') as integer), '0'), "
             "(1, cast(strftime('%Y%m%d', 'now', '-1 day') as integer), '0');");
    EXPECT_EQ(Query(db, "select count(*) from tWeatherForecast where areaCodeNo = 1 "
                        "and solarCalendar>=strftime('%Y%m%d') order by areaCodeNo,solarCalendar,dayNight limit 14;"),
              (std::vector<Row>{{"1"}}));
}

}  // namespace
