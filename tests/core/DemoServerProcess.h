// The demo server on an ephemeral port, in a test's folder, and a program copy's settings
// pointed at its account, for tests that run the built program against it.
//
//   ProgramCopy program(QUORV_DIST_DIR);
//   DemoServerProcess server(QUORV_DEMO_SERVER, program.Dir());
//   UseDemoAccount(program, server.Port());
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "ChildProcess.h"
#include "LogReader.h"
#include "ProgramCopy.h"
#include "TempDir.h"
#include "WaitFor.h"

class DemoServerProcess {
public:
    DemoServerProcess(const std::filesystem::path& program, const TempDir& dir)
        : output_(dir / "server.out"), process_(program, {"0"}, output_) {}

    // The port its first line names; 0 when it names none in time.
    std::uint16_t Port() const {
        const std::string marker = "listening on 127.0.0.1:";
        std::size_t at = std::string::npos;
        WaitFor([&] { return (at = Output().find(marker)) != std::string::npos; }, ProgramCopy::kTimeout);
        return at == std::string::npos ? 0 : static_cast<std::uint16_t>(std::stoi(Output().substr(at + marker.size())));
    }
    // How many times it has logged line (without its "demo server: " mark).
    int Count(const std::string& line) const { return CountOf(Output(), "demo server: " + line + "\n"); }
    bool Saw(const std::string& line) const { return Count(line) > 0; }
    std::string Output() const { return ReadFileBytes(output_); }

private:
    std::filesystem::path output_;
    ChildProcess process_;
};

// The settings a user of the demo account has: remembered password, automatic login, the
// server at port. Nothing may reach the shipped settings' fixed ports, where a developer's
// demo server may run.
inline void UseDemoAccount(const ProgramCopy& program, std::uint16_t port) {
    const std::wstring portText = std::to_wstring(port);
    for (const auto& [key, value] : {std::pair<std::wstring, std::wstring>{L"LoginAccount", L"demo"},
                                     {L"LoginPassword", L"demo123"},
                                     {L"UserID", L"demo01"},
                                     {L"UserNo", L"1001"},
                                     {L"RememberPassword", L"1"},
                                     {L"AutoLoginWhenRun", L"1"},
                                     {L"LoginURL", L"127.0.0.1"},
                                     {L"LoginPort", portText}})
        program.SetLoginSetting(key, value);
    if (!program.LoginSetting(L"LoginPortBak").empty()) {
        program.SetLoginSetting(L"LoginURLBak", L"127.0.0.1");
        program.SetLoginSetting(L"LoginPortBak", portText);
    }
}
