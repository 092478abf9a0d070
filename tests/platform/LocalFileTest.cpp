#include "platform/LocalFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/Files.h"
#include "support/FixturePrefix.h"

namespace lumidex {
namespace {

namespace fs = std::filesystem;

using lumidex::testing::ReadAll;
using lumidex::testing::WriteFile;

class LocalFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = fs::canonical(m_dir.path()).string();
        ::setenv("WINEPREFIX", (m_dir.path() / "prefix").c_str(), 1);
        fs::create_directories(m_dir.path() / "prefix" / "drive_c" / "Kelvora" / "log");
    }

    testing::TempDir m_dir;
    std::string m_base;
};

TEST_F(LocalFileTest, BareNamesLiveInTheBaseDirectoryAndBackslashNamesAreFullPaths) {
    LocalFile file(m_base);
    EXPECT_EQ(file.FullPath("a.txt"), m_base + "\\a.txt");
    EXPECT_EQ(file.FullPath("log\\a.txt"), "log\\a.txt");

    // A bare name is created in the base directory.
    ASSERT_TRUE(file.Open("new.txt", true));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.CurrentPath(), m_base + "\\new.txt");
    EXPECT_TRUE(fs::is_regular_file(fs::path(m_base) / "new.txt"));

    // A Windows path opens exactly there, through the prefix's drive; the earlier file closes.
    ASSERT_TRUE(file.Open("C:\\Kelvora\\log\\Lumidex_log.txt", false));
    EXPECT_EQ(file.CurrentPath(), "C:\\Kelvora\\log\\Lumidex_log.txt");
    EXPECT_TRUE(fs::is_regular_file(m_dir.path() / "prefix/drive_c/Kelvora/log/Lumidex_log.txt"));

    // A directory that does not exist: no file, and nothing stays open.
    EXPECT_FALSE(file.Open("C:\\Kelvora\\nolog\\Lumidex_log.txt", true));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.CurrentPath(), "");
    EXPECT_FALSE(file.Open("Q:\\unknown drive.txt", true));

    // By default the base is the running program's own directory.
    EXPECT_EQ(LocalFile().BaseDirectory(),
              fs::read_symlink("/proc/self/exe").parent_path().string());
}

TEST_F(LocalFileTest, TruncateCutsAtTheGivenOffsetOrTheCurrentPosition) {
    const fs::path path = fs::path(m_base) / "log.txt";
    WriteFile(path, "0123456789");
    LocalFile file(m_base);
    EXPECT_FALSE(file.Truncate(0));  // nothing open

    ASSERT_TRUE(file.Open("log.txt", true));
    EXPECT_EQ(ReadAll(path), "0123456789");  // opening keeps the contents
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_EQ(ReadAll(path), "012345");
    ASSERT_EQ(::write(file.Descriptor(), "ab", 2), 2);  // lands at the new end
    ASSERT_TRUE(file.Truncate(-1));                     // cut at the position: nothing lost
    EXPECT_EQ(ReadAll(path), "012345ab");
    ASSERT_TRUE(file.Truncate(0));
    EXPECT_EQ(ReadAll(path), "");
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.CurrentPath(), "");
    EXPECT_FALSE(file.Truncate(0));

    // A file opened for reading cannot be cut, and says so.
    WriteFile(path, "keep");
    ASSERT_TRUE(file.Open("log.txt", false));
    EXPECT_FALSE(file.Truncate(0));
    EXPECT_EQ(ReadAll(path), "keep");
}

TEST_F(LocalFileTest, OneWriterAtATimeWhileReadersMayOpen) {
    LocalFile writer(m_base);
    ASSERT_TRUE(writer.Open("shared.txt", true));
    LocalFile second(m_base);
    EXPECT_FALSE(second.Open("shared.txt", true));
    EXPECT_TRUE(second.Open("shared.txt", false));
    writer.Close();
    EXPECT_TRUE(second.Open("shared.txt", true));

    // Moving the object moves the open file with it.
    LocalFile moved = std::move(second);
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_FALSE(writer.Open("shared.txt", true));
}

TEST_F(LocalFileTest, ExistsIsForFilesAndIsDirectoryForDirectories) {
    const LocalFile file(m_base);
    WriteFile(fs::path(m_base) / "f.txt", "x");
    fs::create_directory(fs::path(m_base) / "d");

    EXPECT_TRUE(file.Exists("f.txt"));
    EXPECT_FALSE(file.Exists("d"));
    EXPECT_FALSE(file.Exists("missing.txt"));
    WriteFile(m_dir.path() / "prefix/drive_c/Kelvora/x.txt", "x");
    EXPECT_TRUE(file.Exists("C:\\Kelvora\\x.txt"));
    EXPECT_FALSE(file.Exists("C:\\Kelvora\\log"));

    EXPECT_TRUE(LocalFile::IsDirectory(m_base + "\\d"));
    EXPECT_TRUE(LocalFile::IsDirectory("C:\\Kelvora\\log"));
    EXPECT_FALSE(LocalFile::IsDirectory(m_base + "\\f.txt"));
    EXPECT_FALSE(LocalFile::IsDirectory(m_base + "\\missing"));
    EXPECT_FALSE(LocalFile::IsDirectory("Q:\\"));
}

}  // namespace
}  // namespace lumidex
