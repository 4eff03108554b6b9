// A copy of the built program's folder in a temporary folder, run as an instance of its
// own: its single-instance lock and its home folder lie in the temporary folder too, so
// copies run beside each other and beside a program the developer runs.
//
//   ProgramCopy program(QUORV_DIST_DIR);
//   program.SetLoginSetting(L"LoginPort", L"40123");
//   auto run = program.Start({"/autoRun"});
//   WaitFor([&] { return program.Log().find(L"Start...") != std::wstring::npos; });
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

class ProgramCopy {
public:
    // For the copy to get somewhere: generous, as the sanitizer build starts slowly under
    // a full parallel test run, and only a failing test waits it out.
    static constexpr std::chrono::seconds kTimeout{20};
    // What one case's waits for a copy take together at most (a WaitBudget's): within the
    // test runner's 120 s, so that a failing case ends by its own bound.
    static constexpr std::chrono::seconds kCaseBound{100};

    // Copies dist as the build lays it out, without what earlier runs left in it.
    explicit ProgramCopy(const std::filesystem::path& dist);

    const std::filesystem::path& Folder() const { return folder_; }
    const TempDir& Dir() const { return dir_; }

    // A key of the settings file's [Login] section; empty when it is not there.
    std::wstring LoginSetting(const std::wstring& key) const;
    void SetLoginSetting(const std::wstring& key, const std::wstring& value) const;

    // Starts the program with args, its output in the temporary folder's file outputName.
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                        const std::string& outputName = "program.out") const;

    // Everything the copy has logged so far.
    std::wstring Log() const;

private:
    std::wstring IniPath() const;

    TempDir dir_;
    std::filesystem::path folder_;
};
