// lumidex-console as a user and the lab run it: a separate process with its own Wine
// prefix and its own single-instance directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/LumidexApp.h"
#include "console/ConsoleOptions.h"
#include "engine/CheckItem.h"
#include "platform/InstanceGuard.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"
#include "support/RunProcess.h"

namespace lumidex {
namespace {

using testing::FixturePrefix;
using testing::RunProcess;
using testing::TempDir;

const char kEmptySummary[] =
    "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有17顶\r\n已经检测0项\r\n"
    "警告0项\r\n错误0项";

class ConsoleTest : public ::testing::Test {
protected:
    testing::ProcessResult Run(const std::vector<std::string>& args) {
        return RunProcess(
            LUMIDEX_CONSOLE_PATH, args,
            {{"WINEPREFIX", prefix.path().string()}, {"XDG_RUNTIME_DIR", runtime.path().string()}});
    }

    FixturePrefix prefix;
    TempDir runtime;
};

TEST_F(ConsoleTest, JsonHasEveryRowInTableOrderAndTheSummary) {
    const auto run = Run({"--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto result = nlohmann::json::parse(run.out);

    const auto& rows = result.at("rows");
    ASSERT_EQ(rows.size(), 19u);
    size_t index = 0;
    for (const CheckItem& item : CheckItemTable()) {
        if (item.id == kXpSp2PatchItemId) {
            continue;
        }
        const auto& row = rows.at(index++);
        EXPECT_EQ(row.at("id"), item.id);
        if (item.id == kSeparatorId) {
            EXPECT_EQ(row.at("name"), "----------");
            EXPECT_TRUE(row.at("status").is_null());
        } else {
            EXPECT_EQ(row.at("name"), item.name);
            EXPECT_EQ(row.at("status"), "NotChecked");
        }
        EXPECT_EQ(row.at("detail"), "");
    }
    EXPECT_EQ(result.at("total"), 17);
    EXPECT_EQ(result.at("checked"), 0);
    EXPECT_EQ(result.at("errors"), 0);
    EXPECT_EQ(result.at("submit_enabled"), false);
    EXPECT_EQ(result.at("summary"), kEmptySummary);
    EXPECT_EQ(result.at("findings"), "\r\n开始基本网络检测");
    EXPECT_EQ(result.at("log_path"), "") << "no product installed, no log";
}

TEST_F(ConsoleTest, PlainOutputHasNoEscapeCodes) {
    const auto run = Run({});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("本地IP  [NotChecked]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("共有17顶\n已经检测0项\n警告0项\n错误0项"), std::string::npos);
}

TEST_F(ConsoleTest, ArgumentsOtherThanTheKnownOnesAreAUsageError) {
    for (const std::string bad : {"--bogus", "check", "-j"}) {
        const auto run = Run({bad});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos);
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_EQ(Run({"--help"}).exitCode, 0);
    const auto version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("lumidex-console "), std::string::npos);
}

TEST(ConsoleOptionsTest, ContactDetailsGoWithSubmitInEitherSpelling) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        report::ContactDetails contact;
    } cases[] = {
        {{"--submit"}, true, {}},
        {{"--submit", "--qq", "123&x=1", "--msn=a@b", "--club-id", "id", "--email=e", "--note",
          "两行\r\n说明"},
         true,
         {"123&x=1", "a@b", "id", "e", "两行\r\n说明"}},
        {{"--qq", "1"}, false, {}},           // without --submit
        {{"--submit", "--note"}, false, {}},  // value missing
        {{"--submit", "--qqq=1"}, false, {}},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = ParseConsoleOptions(c.args);
        EXPECT_EQ(parsed.error.empty(), c.ok) << c.args.back();
        if (!c.ok) {
            continue;
        }
        EXPECT_TRUE(parsed.options.submit);
        const auto& got = parsed.options.contact;
        EXPECT_EQ(std::tie(got.qq, got.msn, got.clubId, got.email, got.note),
                  std::tie(c.contact.qq, c.contact.msn, c.contact.clubId, c.contact.email,
                           c.contact.note));
    }
}

TEST_F(ConsoleTest, EndpointsListEveryRoleOnce) {
    const auto run = Run({"--endpoints", "--json"});
    ASSERT_EQ(run.exitCode, 0);
    const auto list = nlohmann::json::parse(run.out).at("endpoints");
    std::map<std::string, int> roles;
    for (const auto& endpoint : list) {
        ++roles[endpoint.at("role").get<std::string>()];
        EXPECT_FALSE(endpoint.at("host").get<std::string>().empty());
    }
    EXPECT_EQ(roles["website"], 3);
    EXPECT_EQ(roles["list"], 5);
    EXPECT_EQ(roles["information"], 5);
    EXPECT_EQ(roles["public-site"], 10);
    EXPECT_EQ(roles["channel-list"], 1);
    EXPECT_EQ(roles["report"], 1);
}

TEST_F(ConsoleTest, SecondCopyIsRefusedWhileTheFirstRuns) {
    auto first = platform::InstanceGuard::Acquire(kInstanceGuardName, runtime.path().string());
    ASSERT_TRUE(first.has_value());
    const auto run = Run({"--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("错误: 检测到另一个Lumidex_ERR在运行中,点击确定后将退出!"),
              std::string::npos)
        << run.err;
}

TEST_F(ConsoleTest, InstalledProductGetsAFreshLogAtStart) {
    const auto install = prefix.path() / "drive_c" / "Program Files" / "Kelvora";
    std::filesystem::create_directories(install / "log");
    testing::WriteFile(install / "log" / "Lumidex_log.txt", "an earlier run");
    prefix.WriteInstallLocation("C:\\Program Files\\Kelvora");

    const auto run = Run({"--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto result = nlohmann::json::parse(run.out);
    const std::filesystem::path logPath = result.at("log_path").get<std::string>();
    EXPECT_TRUE(std::filesystem::equivalent(logPath, install / "log" / "Lumidex_log.txt"));
    const std::string content = testing::ReadAll(logPath);
    EXPECT_EQ(content.find("an earlier run"), std::string::npos) << "the leftover log is emptied";
}

}  // namespace
}  // namespace lumidex
