// The article synchronisation's reply, as the HTTP server would send it: from the bytes
// to the statements that would run against the user database, with no network and no
// database. A refused reply yields none; an accepted one yields only the rows' texts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Communication.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // As for the packet replies: refusals log on the logger's thread after the input ran.
    fuzz::EnterWorkDir(argc, argv, {"-detect_leaks=0"});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::vector<std::wstring> statements;
    int inserts = -1;
    const int result = CCommunication::ReadHttpSyncXmlData(reply, statements, inserts);
    fuzz::Require(result == 0 || result == -1 || result == -2, "a reply result outside 0, -1 and -2");
    fuzz::Require(result == 0 || statements.empty(), "statements from a refused reply");
    fuzz::Require(inserts >= 0 && static_cast<std::size_t>(inserts) <= statements.size(),
                  "more inserts counted than statements");
    for (const std::wstring& sql : statements) fuzz::Require(!sql.empty(), "an empty statement");
    return 0;
}
