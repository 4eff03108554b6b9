#include "FileCopy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>

#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

namespace fs = std::filesystem;

class FileCopyTest : public ::testing::Test {
protected:
    std::wstring Name(const std::string& file) const { return text::FromUtf8((dir_ / file).string()); }

    void Write(const std::string& file, const std::string& bytes) const {
        std::ofstream(dir_ / file, std::ios::binary) << bytes;
    }

    // Every name in the folder, hidden ones too, as one sorted text.
    std::string Listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.Path())) names.insert(entry.path().filename().string());
        std::string listing;
        for (const std::string& name : names) listing += name + " ";
        return listing;
    }

    // More than one read's worth, every byte value.
    static std::string Content() {
        std::string bytes;
        for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(i * 7 % 256);
        return bytes;
    }

    TempDir dir_;
};

TEST_F(FileCopyTest, CopiesTheBytesAndPermissionsAndLeavesNothingElse) {
    Write("from.db", Content());
    fs::permissions(dir_ / "from.db", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(CopyFileW(Name("from.db").c_str(), Name("to.db").c_str(), TRUE));
    EXPECT_EQ(ReadFileBytes(dir_ / "to.db"), Content());
    EXPECT_EQ(fs::status(dir_ / "to.db").permissions(), fs::status(dir_ / "from.db").permissions());
    EXPECT_EQ(Listing(), "from.db to.db ");
}

TEST_F(FileCopyTest, KeepsAnExistingFileOnlyWhenAskedTo) {
    Write("from.db", "new");
    Write("to.db", "old");
    EXPECT_FALSE(CopyFileW(Name("from.db").c_str(), Name("to.db").c_str(), TRUE));
    EXPECT_EQ(ReadFileBytes(dir_ / "to.db"), "old");
    EXPECT_EQ(Listing(), "from.db to.db ");

    EXPECT_TRUE(CopyFileW(Name("from.db").c_str(), Name("to.db").c_str(), FALSE));
    EXPECT_EQ(ReadFileBytes(dir_ / "to.db"), "new");
    EXPECT_EQ(Listing(), "from.db to.db ");
}

TEST_F(FileCopyTest, AMissingSourceOrFolderMakesNothing) {
    EXPECT_FALSE(CopyFileW(Name("none.db").c_str(), Name("to.db").c_str(), TRUE));
    Write("from.db", "bytes");
    EXPECT_FALSE(CopyFileW(Name("from.db").c_str(), Name("no-folder/to.db").c_str(), TRUE));
    EXPECT_FALSE(CopyFileW(nullptr, Name("to.db").c_str(), TRUE));
    EXPECT_EQ(Listing(), "from.db ");
}

// A source that delivers its bytes slowly holds the copy at its middle, where a killed
// program would leave it: the name must not exist yet.
TEST_F(FileCopyTest, TheNameAppearsOnlyWithTheWholeCopy) {
    ASSERT_EQ(::mkfifo((dir_ / "from.db").c_str(), 0600), 0);
    auto copied = std::async(std::launch::async, [this] {
        return CopyFileW(Name("from.db").c_str(), Name("to.db").c_str(), TRUE);
    });
    const std::string first(100000, 'a');
    const std::string rest(50000, 'b');
    std::ofstream writer(dir_ / "from.db", std::ios::binary);
    writer << first << std::flush;
    // The first part has reached the copy's own file, beside the name.
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& entry : fs::directory_iterator(dir_.Path()))
            if (entry.path().filename() != "from.db" && entry.file_size() == first.size()) return true;
        return false;
    })) << Listing();
    EXPECT_FALSE(fs::exists(dir_ / "to.db"));

    writer << rest;
    writer.close();
    ASSERT_TRUE(copied.get());
    EXPECT_EQ(ReadFileBytes(dir_ / "to.db"), first + rest);
    EXPECT_EQ(Listing(), "from.db to.db ");
}

}  // namespace
