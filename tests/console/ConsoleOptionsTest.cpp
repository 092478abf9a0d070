#include "console/ConsoleOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <utility>

#include <string>
#include <tuple>
#include <vector>

#include "startup/SystemProbes.h"

namespace lumidex {
namespace {

TEST(ConsoleOptionsTest, ContactDetailsAndDryRunGoWithSubmit) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        ContactDetails contact;
        bool dryRun = false;
    } cases[] = {
        {{"--submit"}, true, {}},
        {{"--submit", "--qq", "123&x=1", "--msn=a@b", "--club-id", "id", "--email=e", "--note",
          "两行\r\n说明"},
         true,
         {"123&x=1", "a@b", "id", "e", "两行\r\n说明"}},
        {{"--dry-run", "--submit", "--qq=1"}, true, {"1", "", "", "", ""}, true},
        {{"--qq", "1"}, false, {}},            // without --submit
        {{"--dry-run", "--json"}, false, {}},  // without --submit
        {{"--submit", "--note"}, false, {}},   // value missing
        {{"--submit", "--qqq=1"}, false, {}},
        {{"--submit", "--dry-run=1"}, false, {}},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = ParseConsoleOptions(c.args);
        EXPECT_EQ(parsed.error.empty(), c.ok) << c.args.back();
        if (!c.ok) {
            continue;
        }
        EXPECT_TRUE(parsed.options.submit);
        EXPECT_EQ(parsed.options.dryRun, c.dryRun);
        const auto& got = parsed.options.contact;
        EXPECT_EQ(std::tie(got.qq, got.msn, got.clubId, got.email, got.note),
                  std::tie(c.contact.qq, c.contact.msn, c.contact.clubId, c.contact.email,
                           c.contact.note));
    }
}

TEST(ConsoleOptionsTest, ActionsAreSwitchesWithoutValues) {
    using Action = ConsoleOptions::Action;
    const std::pair<std::vector<std::string>, std::optional<Action>> cases[] = {
        {{}, Action::Check},
        {{"--json", "--endpoints"}, Action::Endpoints},
        {{"--test-port-mapping"}, Action::TestPortMapping},
        {{"--test-port-mapping=1"}, std::nullopt},
        {{"-h"}, Action::Help},
        {{"--version"}, Action::Version},
    };
    for (const auto& [args, action] : cases) {
        const ParsedOptions parsed = ParseConsoleOptions(args);
        EXPECT_EQ(parsed.error.empty(), action.has_value()) << ::testing::PrintToString(args);
        if (action) {
            EXPECT_EQ(parsed.options.action, *action) << ::testing::PrintToString(args);
        }
    }
}

TEST(ConsoleOptionsTest, PrefixTakesADirectory) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--prefix", "/p q"}, "/p q"},
        {{"--json", "--prefix=/p"}, "/p"},
        {{"--prefix"}, ""},
        {{"--prefix="}, ""},
    };
    for (const auto& [args, prefix] : cases) {
        const ParsedOptions parsed = ParseConsoleOptions(args);
        EXPECT_EQ(parsed.error.empty(), !prefix.empty()) << args.back();
        EXPECT_EQ(parsed.options.prefix, prefix) << args.back();
    }
}

TEST(ConsoleOptionsTest, OneAtATimeBySwitchOrEnvironment) {
    EXPECT_TRUE(ParseConsoleOptions({"--json", "--one-at-a-time"}).options.oneAtATime);
    EXPECT_FALSE(ParseConsoleOptions({"--json"}).options.oneAtATime);
    EXPECT_FALSE(ParseConsoleOptions({"--one-at-a-time=1"}).error.empty());
    const char* before = std::getenv(kOneAtATimeVariable);
    const std::string saved = before != nullptr ? before : "";
    for (const auto& [value, oneAtATime] : {std::pair{"1", true}, std::pair{"0", false},
                                            std::pair{"", false}, std::pair{"yes", false}}) {
        ::setenv(kOneAtATimeVariable, value, 1);
        EXPECT_EQ(OneAtATimeFromEnvironment(), oneAtATime) << value;
    }
    ::unsetenv(kOneAtATimeVariable);
    EXPECT_FALSE(OneAtATimeFromEnvironment());
    if (before != nullptr) {
        ::setenv(kOneAtATimeVariable, saved.c_str(), 1);
    }
}

}  // namespace
}  // namespace lumidex
