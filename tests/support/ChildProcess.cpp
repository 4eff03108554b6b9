#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "WaitFor.h"

extern char** environ;

namespace {

// This process's environment with the entries of env put in place of those of the same name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& env) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const std::size_t nameLength = equals != nullptr ? static_cast<std::size_t>(equals - *entry) : 0;
        bool replaced = false;
        for (const std::string& own : env)
            replaced = replaced || own.compare(0, nameLength + 1, *entry, nameLength + 1) == 0;
        if (!replaced) merged.emplace_back(*entry);
    }
    merged.insert(merged.end(), env.begin(), env.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The processes whose parent is `parent`, from /proc.
std::vector<int> ChildrenOf(int parent) {
    std::vector<int> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (comm) state ppid ...": the name may hold anything, so read after its last ')'.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
            children.push_back(std::stoi(name));
    }
    return children;
}

// Stops the process and everything below it, so that none can start another meanwhile, then
// kills them all. Those below are reaped by whoever adopts them.
void KillTree(int root) {
    std::vector<int> tree{root};
    kill(root, SIGSTOP);
    // A second look finds what a process forked while its stop was on its way.
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t i = 0; i < tree.size(); ++i) {
            for (int child : ChildrenOf(tree[i])) {
                if (std::find(tree.begin(), tree.end(), child) != tree.end()) continue;
                kill(child, SIGSTOP);
                tree.push_back(child);
                grew = true;
            }
        }
    }
    for (int pid : tree) kill(pid, SIGKILL);
}

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                           const std::filesystem::path& output, const std::vector<std::string>& env) {
    std::vector<std::string> argTexts{program.string()};
    argTexts.insert(argTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = MergedEnvironment(env);
    const std::vector<char*> argv = Pointers(argTexts);
    const std::vector<char*> envp = Pointers(envTexts);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (!Started() || status_) return;
    KillTree(pid_);
    Wait(std::chrono::seconds(5));
}

bool ChildProcess::Signal(int signal) const { return Started() && !status_ && kill(pid_, signal) == 0; }

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (!Started() || status_) return status_;
    WaitFor(
        [this] {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        timeout);
    return status_;
}
