#include "DynamicLibrary.h"

#include <gtest/gtest.h>

#include <fstream>

#include "LastError.h"
#include "TempDir.h"
#include "Text.h"

namespace {

const std::filesystem::path kPluginDir = SAMPLE_PLUGIN_DIR;

TEST(DynamicLibraryTest, DllNameLoadsTheSharedLibraryBesideIt) {
    const std::wstring name = text::FromUtf8((kPluginDir / "SamplePlugin.dll").string());
    HMODULE module = LoadLibraryW(name.c_str());
    ASSERT_NE(module, nullptr) << LastLibraryError();
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "SampleAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(module, path, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(text::ToUtf8(path)).filename(), "SamplePlugin.so");
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(DynamicLibraryTest, MissingLibraryFailsWithModNotFound) {
    EXPECT_EQ(LoadLibraryW(L"/nonexistent/Nothing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
}

TEST(DynamicLibraryTest, NamingRuleFallsBackToLibPrefix) {
    TempDir dir;
    EXPECT_EQ(LibraryFileFor(dir / "Vepcom.dll"), dir / "Vepcom.so");
    std::ofstream(dir / "libVepcom.so") << "";
    EXPECT_EQ(LibraryFileFor(dir / "Vepcom.DLL"), dir / "libVepcom.so");
    std::ofstream(dir / "Vepcom.so") << "";
    EXPECT_EQ(LibraryFileFor(dir / "Vepcom.dll"), dir / "Vepcom.so");
    EXPECT_EQ(LibraryFileFor("plain.so"), "plain.so");
}

TEST(DynamicLibraryTest, ProgramPathIsCutToTheBuffer) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(text::ToUtf8(path)).filename(), "platform_tests");
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 3u);
}

}  // namespace
