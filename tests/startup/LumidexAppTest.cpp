#include "startup/LumidexApp.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/DiagLog.h"
#include "platform/InstanceGuard.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"

namespace lumidex {
namespace {

using testing::FixturePrefix;
using testing::TempDir;

class RecordingSink final : public MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        messages.push_back(caption + "|" + text + "|" + (icon == MessageIcon::Error ? "E" : "I"));
    }
    std::vector<std::string> messages;
};

class LumidexAppTest : public ::testing::Test {
protected:
    void SetUp() override { prefix.Activate(); }
    void TearDown() override { TheDiagLog().SetPath(""); }

    // Starts the app, returning the log path it settled on.
    std::string Start() {
        CLumidexApp app(sink);
        app.SetGuardDirectory(guards.path().string());
        std::string logPath;
        bool ran = false;
        EXPECT_EQ(app.InitInstance([&](CLumidexApp& started) {
            ran = true;
            logPath = started.LogPath();
        }),
                  0);
        EXPECT_TRUE(ran);
        return logPath;
    }

    FixturePrefix prefix;
    TempDir guards;
    RecordingSink sink;
};

TEST_F(LumidexAppTest, TrailingBackslashOrNotGivesTheSameLogPath) {
    prefix.WriteInstallLocation("C:\\Program Files\\Kelvora");
    const std::string without = Start();
    prefix.WriteInstallLocation("C:\\Program Files\\Kelvora\\");
    const std::string with = Start();
    EXPECT_EQ(without, "C:\\Program Files\\Kelvora\\log\\Lumidex_log.txt");
    EXPECT_EQ(with, without);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(LumidexAppTest, NoProductMeansNoLog) {
    EXPECT_EQ(Start(), "");
    prefix.WriteInstallLocation("");
    EXPECT_EQ(Start(), "");
    EXPECT_EQ(LogPathFor(""), "");
}

TEST_F(LumidexAppTest, LeftoverLogIsEmptiedAndTheFirstEntryBringsTheHeader) {
    const auto install = prefix.path() / "drive_c" / "Kelvora";
    std::filesystem::create_directories(install / "log");
    const auto logFile = install / "log" / "Lumidex_log.txt";
    testing::WriteFile(logFile, "stale");
    prefix.WriteInstallLocation("C:\\Kelvora\\");

    CLumidexApp app(sink);
    app.SetGuardDirectory(guards.path().string());
    app.InitInstance([&](CLumidexApp&) {
        EXPECT_EQ(std::filesystem::file_size(logFile), 0u);
        TheDiagLog().Write("first", 1);
    });
    const std::string content = testing::ReadAll(logFile);
    EXPECT_EQ(content.rfind("#Software: Vantorix network log\r\n", 0), 0u);
    EXPECT_EQ(content.find("stale"), std::string::npos);
}

TEST_F(LumidexAppTest, SecondCopyIsToldAndTheFirstRunsOn) {
    auto first = platform::InstanceGuard::Acquire(kInstanceGuardName, guards.path().string());
    ASSERT_TRUE(first);
    CLumidexApp app(sink);
    app.SetGuardDirectory(guards.path().string());
    bool ran = false;
    EXPECT_EQ(app.InitInstance([&](CLumidexApp&) { ran = true; }), 0);
    EXPECT_FALSE(ran);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], "错误|检测到另一个Lumidex_ERR在运行中,点击确定后将退出!|E");
    EXPECT_TRUE(std::filesystem::exists(
        platform::InstanceGuard::LockPath(kInstanceGuardName, guards.path().string())));
}

// Only another copy holding the guard refuses the start; a lock file that cannot be made
// moves to the fallback directory, and when that fails too the tool starts without a guard.
TEST_F(LumidexAppTest, UnusableLockDirectoriesDoNotRefuseTheStart) {
    const std::string missing = (guards.path() / "missing").string();
    const std::string fallback = (guards.path() / "fallback").string();
    std::filesystem::create_directory(fallback);
    struct Row {
        std::string fallbackDirectory;
        bool lockFileExpected;
    };
    for (const Row& row : {Row{fallback, true}, Row{missing, false}}) {
        CLumidexApp app(sink);
        app.SetGuardDirectory(missing);
        app.SetGuardFallbackDirectory(row.fallbackDirectory);
        bool ran = false;
        app.InitInstance([&](CLumidexApp&) { ran = true; });
        EXPECT_TRUE(ran) << row.fallbackDirectory;
        if (row.lockFileExpected) {
            EXPECT_FALSE(std::filesystem::is_empty(fallback)) << "the guard moved there";
        }
    }
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(LumidexAppTest, GuardOfAKilledCopyDoesNotBlockTheNextStart) {
    const std::string dir = guards.path().string();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        auto held = platform::InstanceGuard::Acquire(kInstanceGuardName, dir);
        const char byte = held ? '1' : '0';
        (void)!write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');
    EXPECT_FALSE(platform::InstanceGuard::Acquire(kInstanceGuardName, dir))
        << "refused while the first copy holds it";

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(platform::InstanceGuard::Acquire(kInstanceGuardName, dir))
        << "a killed copy must not block the next start";
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
}  // namespace lumidex
