#include "console/ConsoleOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace lumidex {
namespace {

TEST(ConsoleOptionsTest, ContactDetailsGoWithSubmitInEitherSpelling) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        ContactDetails contact;
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

}  // namespace
}  // namespace lumidex
