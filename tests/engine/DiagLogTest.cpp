#include "engine/DiagLog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "engine/LogTestSupport.h"
#include "platform/UniqueFd.h"

namespace lumidex {
namespace {

using testing::Header;
using testing::LocalTime;
using testing::ReadAll;

const std::string kUtf8LocalIp = "\xE6\x9C\xAC\xE5\x9C\xB0IP: ";  // 本地IP:
const std::string kGbkLocalIp = "\xB1\xBE\xB5\xD8IP: ";

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_log.SetClock([this] { return m_now; });
        m_log.SetLevel(1);
        m_log.SetPath(m_file);
    }

    testing::ScratchDir m_dir;
    std::string m_file = m_dir / "Lumidex_log.txt";
    std::tm m_now = LocalTime(2006, 5, 3, 9, 5, 7);
    DiagLog m_log;
};

TEST_F(DiagLogTest, EmptyFileGetsHeaderOnceThenGbkEntries) {
    m_log.Write(kUtf8LocalIp + "192.0.2.7", 1);
    m_now = LocalTime(2006, 12, 31, 23, 59, 58);
    m_log.Write("second", 1);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 " + kGbkLocalIp +
                                   "192.0.2.7" + "\r\n2006-12-31 23:59:58 1 second");
}

TEST_F(DiagLogTest, HeaderCarriesTheDateOfTheEntryBelowIt) {
    // A clock that moves on at every reading: header and entry must still agree.
    int readings = 0;
    m_log.SetClock([&readings] {
        return ++readings == 1 ? LocalTime(2006, 5, 3, 23, 59, 59) : LocalTime(2006, 5, 4, 0, 0, 0);
    });
    m_log.Write("x", 1);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") + "\r\n2006-5-3 23:59:59 1 x");
}

TEST_F(DiagLogTest, FileWithContentGetsNoHeader) {
    testing::WriteFile(m_file, "left over");
    m_log.Write("entry", 1);
    EXPECT_EQ(ReadAll(m_file), "left over\r\n2006-5-3 09:05:07 1 entry");
}

TEST_F(DiagLogTest, TextIsWrittenExactlyAsGiven) {
    m_log.Write("", 1);
    m_log.Write("\r\nstands apart\r\n", 1);
    m_log.Write("gbk \xB1\xBE\xB5\xD8 and \xFF stay", 1);
    m_log.Write("emoji \xF0\x9F\x98\x80.", 1);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") +
                                   "\r\n2006-5-3 09:05:07 1 "
                                   "\r\n2006-5-3 09:05:07 1 \r\nstands apart\r\n"
                                   "\r\n2006-5-3 09:05:07 1 gbk \xB1\xBE\xB5\xD8 and \xFF stay"
                                   "\r\n2006-5-3 09:05:07 1 emoji ?.");
}

TEST_F(DiagLogTest, TextEndsAtItsFirstNul) {
    m_log.Write(std::string_view("before\0after", 12), 1);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 before");
}

// Another program holding the file's lock must cost an entry, not stall the check thread.
TEST_F(DiagLogTest, LockHeldElsewhereDropsTheEntryWithinTheBound) {
    m_log.Write("first", 1);
    const platform::UniqueFd holder(::open(m_file.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(holder);
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    m_log.Write("dropped", 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ::flock(holder.get(), LOCK_UN);
    m_log.Write("third", 1);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 first" +
                                   "\r\n2006-5-3 09:05:07 1 third");
}

TEST_F(DiagLogTest, LevelFilter) {
    DiagLog fresh;
    fresh.SetClock([this] { return m_now; });
    fresh.SetPath(m_file);
    fresh.Write("dropped, threshold starts at 0", 1);
    EXPECT_FALSE(std::filesystem::exists(m_file));
    EXPECT_EQ(fresh.SetLevel(1), 0);
    EXPECT_EQ(fresh.SetLevel(1), 1);
    fresh.Write("too detailed", 2);
    fresh.Write("kept", 1);
    fresh.Write("kept too", 0);
    EXPECT_EQ(ReadAll(m_file), Header("2006-05-03") +
                                   "\r\n2006-5-3 09:05:07 1 kept\r\n2006-5-3 09:05:07 0 kept too");
}

TEST_F(DiagLogTest, EmptyPathCreatesNothing) {
    DiagLog disabled;
    disabled.SetLevel(1);
    disabled.Write("nowhere", 1);
    m_log.SetPath("");
    m_log.Write("nowhere", 1);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path()));
}

TEST_F(DiagLogTest, MissingDirectoryDropsUntilItExists) {
    const std::string dir = m_dir / "log";
    m_log.SetPath(dir + "/Lumidex_log.txt");
    m_log.Write("lost", 1);
    EXPECT_FALSE(std::filesystem::exists(dir));
    std::filesystem::create_directory(dir);
    m_log.Write("kept", 1);
    EXPECT_EQ(ReadAll(dir + "/Lumidex_log.txt"),
              Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 kept");
}

TEST_F(DiagLogTest, WindowsPathIsMappedIntoTheWinePrefix) {
    const char* old = std::getenv("WINEPREFIX");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("WINEPREFIX", m_dir.path().c_str(), 1);
    std::filesystem::create_directories(m_dir.path() / "drive_c" / "Kelvora" / "log");
    m_log.SetPath("C:\\Kelvora\\log\\Lumidex_log.txt");
    m_log.Write("mapped", 1);
    old != nullptr ? ::setenv("WINEPREFIX", saved.c_str(), 1) : ::unsetenv("WINEPREFIX");
    EXPECT_EQ(ReadAll(m_dir / "drive_c/Kelvora/log/Lumidex_log.txt"),
              Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 mapped");
}

TEST(TheDiagLog, IsOneLogThatDropsEntriesUntilEnabled) {
    // Set up through one call, written through the next: they must reach the same log.
    testing::ScratchDir dir;
    const std::string file = dir / "Lumidex_log.txt";
    TheDiagLog().SetClock([] { return LocalTime(2006, 5, 3, 9, 5, 7); });
    TheDiagLog().SetPath(file);
    TheDiagLog().Write("before", 1);
    EXPECT_FALSE(std::filesystem::exists(file)) << "threshold 0 until start-up enables it";
    EXPECT_EQ(TheDiagLog().SetLevel(1), 0);
    TheDiagLog().Write("after", 1);
    EXPECT_EQ(ReadAll(file), Header("2006-05-03") + "\r\n2006-5-3 09:05:07 1 after");
    TheDiagLog().SetPath("");
    TheDiagLog().SetLevel(0);
    TheDiagLog().SetClock({});
}

}  // namespace
}  // namespace lumidex
