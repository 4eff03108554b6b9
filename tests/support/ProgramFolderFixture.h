// A program folder with a fresh default database and settings file, made the current
// directory while a test runs (each test runs in a process of its own). Message boxes,
// opened documents and process exits are recorded instead of happening; long sleeps
// return at once; the sysfs root and the home folder lie in the folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Hooks.h"
#include "TempDir.h"

class ProgramFolderFixture : public ::testing::Test {
protected:
    ProgramFolderFixture();
    ~ProgramFolderFixture() override;

    TempDir dir_;
    std::filesystem::path oldCwd_;
    HookScope hooks_;
    std::vector<std::wstring> boxes_;  // "caption:text"
    std::vector<std::wstring> opened_;
    std::vector<int> exitCodes_;
};
