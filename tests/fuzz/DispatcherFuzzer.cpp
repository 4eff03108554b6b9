// Every reply type the reply dispatcher takes, each with the fields a fuzzed server sends,
// through the dispatcher and its real handlers into a user database made from the default
// schema, under UBSan: a number from the wire must never reach arithmetic unchecked. The
// first byte picks the command, the rest is the reply's text as it arrives (fields ended by
// code 2, a handler's items split at '|').
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Communication.h"
#include "Config.h"
#include "FuzzSupport.h"
#include "Hooks.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

namespace {

// The dispatcher's commands in its order, and one that no handler owns.
constexpr int kCommands[] = {
    COMMAND_USER_LOGIN, COMMAND_USER_LOGOUT, COMMAND_PLUSECHECK, COMMAND_ELEMENTVALUE_UPLOAD,
    COMMAND_ELEMENTVALUE_QUEST, COMMAND_USERASSESSREPORT_DATA, COMMAND_USEROPDATA_UPLOAD, COMMAND_FUNCOP_UPLOAD,
    COMMAND_BLOODPRESSURE_DATA_UPLOAD, COMMAND_HEALTHNOTE_UPLOAD, COMMAND_USERACTION_UPLOAD, COMMAND_USERINFO_QUEST,
    COMMAND_USEREXINFO_QUEST, COMMAND_WEATHERLIVE_QUEST, COMMAND_WEATHERFORECAST_QUEST, COMMAND_LIFEINDEX_QUEST,
    COMMAND_USERMESS_QUEST, COMMAND_PUBLICMESS_QUEST, COMMAND_USERTYPEMESS_QUEST, COMMAND_USERGROUPMESS_QUEST,
    COMMAND_USERINFO_UPLOAD, COMMAND_PARAMETER_QUEST, COMMAND_PEDOMETER_ORIGDATA_UPLOAD, COMMAND_PEDORANK_QUEST,
    COMMAND_ALERTLIST_UPLOAD, COMMAND_TESTINGLIST_UPLOAD,
};

bool RunSqlFile(sqlite3* db, const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::string sql((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return in && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

void MakeUserDatabase(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    const bool made = sqlite3_open(file.c_str(), &db) == SQLITE_OK && RunSqlFile(db, QUORV_SCHEMA_SQL) &&
                      RunSqlFile(db, QUORV_SEED_SQL);
    sqlite3_close(db);
    fuzz::Require(made, "the default schema does not load");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Refusals log on the logger's thread after the input ran, as for the packet replies.
    fuzz::EnterWorkDir(argc, argv, {"-detect_leaks=0"});
    // A reply may order the program to end, update or log in again: nothing outside is
    // reached and the run goes on.
    Hooks().exitProcess = [](int) {};
    Hooks().startProgram = [](const std::wstring&, const std::vector<std::wstring>&) { return false; };
    Hooks().openDocument = [](const std::wstring&) { return false; };
    Hooks().systemAction = [](SystemAction) { return false; };
    Hooks().messageBox = [](const std::wstring&, const std::wstring&, UINT) { return IDOK; };
    Hooks().longSleep = [](DWORD) {};
    const std::filesystem::path folder = std::filesystem::current_path();
    MakeUserDatabase(folder / "user.db");
    g_Config.m_config.binDir = text::FromUtf8(folder.string());
    g_Config.m_config.userDBName = text::FromUtf8((folder / "user.db").string());
    // Made once and kept: the handlers reach them through their globals, as in the program.
    g_pMyDatabase = new CMyDatabase();
    g_pMyDatabase->Init();
    g_pCommunication = new CCommunication();
    fuzz::Require(InitMainObject() == 0, "the data objects cannot be made");
    g_pPedometer = new CPedometerWin();
    g_pBloodPressure = new CBloodPressureWin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    auto context = std::make_unique<struCommContext>();
    context->nMode = COMM_MODE_ASYNC;
    context->nCommandID = kCommands[data[0] % std::size(kCommands)];
    const std::size_t text = std::min<std::size_t>(size - 1, kMaxPayloadLen - kPackHeadSize);
    std::memcpy(context->szRecv + kPackHeadSize, data + 1, text);
    context->szRecv[kPackHeadSize + text] = '\0';
    context->nRecvLen = static_cast<int>(kPackHeadSize + text);
    g_pCommunication->BussProc(context.get());
    g_nRunState = 0;  // an order to end is taken; the next input finds the program running
    return 0;
}
