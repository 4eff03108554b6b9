#include "NamedMutex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Handle.h"
#include "Hooks.h"
#include "LastError.h"
#include "TempDir.h"

namespace {

class NamedMutexTest : public ::testing::Test {
protected:
    NamedMutexTest() { Hooks().runtimeFolder = dir_.Path(); }

    // Exit code of a second process that tries the same name.
    int ProbeInOtherProcess(const std::string& name) {
        const std::string command =
            "XDG_RUNTIME_DIR='" + dir_.Path().string() + "' '" + MUTEX_PROBE + "' '" + name + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir_;
    HookScope hooks_;
};

TEST_F(NamedMutexTest, SecondHolderInAnotherProcessSeesAlreadyExists) {
    EXPECT_EQ(ProbeInOtherProcess("quorvix.exe"), 0);  // nobody holds it yet
    HANDLE mine = CreateMutexW(nullptr, FALSE, L"quorvix.exe");
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(ProbeInOtherProcess("quorvix.exe"), 1);
    EXPECT_EQ(ProbeInOtherProcess("other.exe"), 0);
    ASSERT_TRUE(CloseHandle(mine));
    EXPECT_EQ(ProbeInOtherProcess("quorvix.exe"), 0);  // closing releases the name
}

TEST_F(NamedMutexTest, SecondHolderInTheSameProcessSeesAlreadyExists) {
    HANDLE first = CreateMutexW(nullptr, FALSE, L"a\\b/c");
    ASSERT_NE(first, nullptr);
    HANDLE second = CreateMutexW(nullptr, FALSE, L"a\\b/c");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, L""), nullptr);
}

}  // namespace
