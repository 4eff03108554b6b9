// A program that a test starts and ends, with its output in a file.
//
//   ChildProcess server(SERVER_PATH, {"0"}, dir / "server.out");
//   ...
//   server.Signal(SIGTERM);
//   EXPECT_EQ(server.Wait(std::chrono::seconds(5)), 0);
//
// A process still running when the object goes is killed with every process it started,
// whatever process group each runs in, so a failed test leaves none behind.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
public:
    // Starts program with args, stdout and stderr both into output (replaced). env holds
    // "NAME=value" entries that override or add to this process's environment.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& output, const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    bool Signal(int signal) const;
    // The exit code, or 128 + the signal that ended it; nothing while it still runs after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    int pid_ = -1;
    std::optional<int> status_;
};
