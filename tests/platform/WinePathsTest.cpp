#include "platform/WinePaths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/FixturePrefix.h"

namespace lumidex::platform {
namespace {

namespace fs = std::filesystem;
using lumidex::testing::TempDir;

class WinePathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::canonical(m_dir.path());
        m_prefix = m_root / "prefix";
        fs::create_directories(m_prefix / "drive_c");
        fs::create_directories(m_root / "elsewhere");
        ::setenv("WINEPREFIX", m_prefix.c_str(), 1);
    }

    TempDir m_dir;
    fs::path m_root;
    fs::path m_prefix;
};

TEST_F(WinePathsTest, FollowsTheDosDeviceLinks) {
    fs::create_directories(m_prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", m_prefix / "dosdevices" / "c:");
    fs::create_directory_symlink(m_root / "elsewhere", m_prefix / "dosdevices" / "d:");
    fs::create_directory_symlink("/", m_prefix / "dosdevices" / "z:");

    const std::string driveC = (m_prefix / "drive_c").string();
    EXPECT_EQ(MapWindowsPath("C:\\Program Files\\Kelvora\\log\\Lumidex_log.txt"),
              driveC + "/Program Files/Kelvora/log/Lumidex_log.txt");
    EXPECT_EQ(MapWindowsPath("c:\\x"), driveC + "/x");
    EXPECT_EQ(MapWindowsPath("C:"), driveC + "/");
    EXPECT_EQ(MapWindowsPath("d:\\a\\b"), (m_root / "elsewhere").string() + "/a/b");
    EXPECT_EQ(MapWindowsPath("Z:\\tmp\\x"), "/tmp/x");
    EXPECT_EQ(MapWindowsPath("Q:\\nowhere"), "");  // a drive the prefix does not have
}

TEST_F(WinePathsTest, FallsBackWithoutDosDevices) {
    EXPECT_EQ(MapWindowsPath("C:\\Windows"), (m_prefix / "drive_c").string() + "/Windows");
    EXPECT_EQ(MapWindowsPath("Z:\\usr\\share"), "/usr/share");
    EXPECT_EQ(MapWindowsPath("D:\\x"), "");

    // Not Windows paths: only the separators change.
    EXPECT_EQ(MapWindowsPath("log\\Lumidex_log.txt"), "log/Lumidex_log.txt");
    EXPECT_EQ(MapWindowsPath("/opt/lumidex\\x.txt"), "/opt/lumidex/x.txt");

    // A dangling c: link still finds drive_c; without drive_c, C: is unknown.
    fs::create_directories(m_prefix / "dosdevices");
    fs::create_directory_symlink("../gone", m_prefix / "dosdevices" / "c:");
    EXPECT_EQ(MapWindowsPath("C:\\a"), (m_prefix / "drive_c").string() + "/a");
    fs::remove(m_prefix / "drive_c");
    EXPECT_EQ(MapWindowsPath("C:\\a"), "");
}

TEST_F(WinePathsTest, NamesMatchTheDiskWhateverTheirLetterCase) {
    const fs::path install = m_prefix / "drive_c" / "Program Files" / "Kelvora";
    fs::create_directories(install / "log");
    const std::string driveC = (m_prefix / "drive_c").string();

    EXPECT_EQ(MapWindowsPath(R"(C:\PROGRAM FILES\kelvora\Log\Lumidex_log.txt)"),
              install.string() + "/log/Lumidex_log.txt")
        << "existing folders take their on-disk spelling, the new file keeps its own";
    EXPECT_EQ(MapWindowsPath(R"(C:\program files\Kelvora\)"), install.string() + "/");
    EXPECT_EQ(MapWindowsPath(R"(C:\Program Files\Missing\LOG)"),
              driveC + "/Program Files/Missing/LOG")
        << "below a missing folder nothing is looked up";
    EXPECT_EQ(MapWindowsPath(R"(C:\\Program Files\\Kelvora)"), install.string())
        << "doubled separators collapse";
}

}  // namespace
}  // namespace lumidex::platform
