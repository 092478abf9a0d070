#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/FixturePrefix.h"

namespace lumidex::platform {
namespace {

using lumidex::testing::TempDir;

using lumidex::testing::WriteFile;

const std::string kSystemReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
    "[Software\\\\Classes\\\\.asf] 1700000000\n"
    "@=\"ASFFile\"\n"
    "\"Content Type\"=\"video/x-ms-asf\"\n"
    "\"PerceivedType\"=\"video\"\n"
    "[Software\\\\Classes\\\\ASFFile\\\\Shell\\\\Open\\\\Command] 1700000000\n"
    "@=\"\\\"C:\\\\Program Files\\\\Windows Media Player\\\\wmplayer.exe\\\" /prefetch:1\"\n"
    "[Software\\\\Lumidex] 1700000000\n"
    "\"Text\"=\"hello\"\n"
    "\"Number\"=dword:00000102\n";

const std::string kUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n\n"
    "[Software\\\\Classes\\\\.asf] 1700000000\n"
    "@=\"UserASF\"\n"
    "\"Only User\"=\"u\"\n"
    "[Software\\\\Classes\\\\.asx] 1700000000\n"
    "@=\"ASXFile\"\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Internet Settings] 1700000000\n"
    "\"ProxyEnable\"=dword:00000001\n"
    "\"ProxyServer\"=\"127.0.0.1:3128\"\n";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(m_prefix.path() / "system.reg", kSystemReg);
        WriteFile(m_prefix.path() / "user.reg", kUserReg);
        ::setenv("WINEPREFIX", m_prefix.path().c_str(), 1);
    }

    static std::string QueryText(const RegistryKey& key, std::string_view name) {
        std::array<uint8_t, 512> buffer{};
        const RegQueryResult result = key.QueryValue(name, buffer);
        if (result.status != RegStatus::Success || result.size == 0) {
            return "<status " + std::to_string(static_cast<int>(result.status)) + ">";
        }
        return std::string(buffer.begin(), buffer.begin() + static_cast<long>(result.size) - 1);
    }

    static std::vector<std::string> ValueNames(const RegistryKey& key) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < key.ValueCount(); ++i) {
            names.push_back(key.ValueAt(i)->name);
        }
        EXPECT_EQ(key.ValueAt(key.ValueCount()), nullptr);
        return names;
    }

    TempDir m_prefix;
};

TEST_F(RegistryTest, QueriesValuesLikeTheWindowsCall) {
    const auto key = RegistryKey::Open(RootKey::LocalMachine, "SOFTWARE\\lumidex");
    ASSERT_TRUE(key);

    std::array<uint8_t, 8> buffer{};
    RegQueryResult result = key->QueryValue("NUMBER", buffer);
    EXPECT_EQ(result.status, RegStatus::Success);
    EXPECT_EQ(result.type, kRegDword);
    EXPECT_EQ(result.size, 4u);
    EXPECT_EQ(buffer[0], 0x02);
    EXPECT_EQ(buffer[1], 0x01);

    // "hello" + zero is 6 bytes: a 6-byte buffer fits, a 5-byte one reports the size needed
    // and receives nothing.
    std::array<uint8_t, 6> exact{};
    result = key->QueryValue("text", exact);
    EXPECT_EQ(result.status, RegStatus::Success);
    EXPECT_EQ(std::string(exact.begin(), exact.end()), std::string("hello\0", 6));
    std::array<uint8_t, 5> small{'x', 'x', 'x', 'x', 'x'};
    result = key->QueryValue("Text", small);
    EXPECT_EQ(result.status, RegStatus::MoreData);
    EXPECT_EQ(result.size, 6u);
    EXPECT_EQ(result.type, kRegSz);
    EXPECT_EQ(std::string(small.begin(), small.end()), "xxxxx");

    EXPECT_EQ(key->QueryValue("Missing", buffer).status, RegStatus::FileNotFound);
    EXPECT_EQ(key->QueryValue("", buffer).status, RegStatus::FileNotFound);  // no default here

    // Paths: trailing backslash and the root itself open; a missing key does not.
    EXPECT_TRUE(RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex\\"));
    EXPECT_TRUE(RegistryKey::Open(RootKey::LocalMachine, ""));
    EXPECT_FALSE(RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex\\Sub"));
    EXPECT_FALSE(RegistryKey::Open(RootKey::CurrentUser, "Software\\Lumidex"));

    const auto settings = RegistryKey::Open(
        RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    ASSERT_TRUE(settings);
    EXPECT_EQ(QueryText(*settings, "proxyserver"), "127.0.0.1:3128");
    EXPECT_EQ(ValueNames(*settings), (std::vector<std::string>{"ProxyEnable", "ProxyServer"}));
}

TEST_F(RegistryTest, ClassesRootLaysTheUserOverTheMachine) {
    const auto asf = RegistryKey::Open(RootKey::ClassesRoot, ".ASF");
    ASSERT_TRUE(asf);
    EXPECT_EQ(QueryText(*asf, ""), "UserASF");                     // the user's default value wins
    EXPECT_EQ(QueryText(*asf, "Content Type"), "video/x-ms-asf");  // the machine fills in
    EXPECT_EQ(ValueNames(*asf),
              (std::vector<std::string>{"", "Only User", "Content Type", "PerceivedType"}));

    const auto asx = RegistryKey::Open(RootKey::ClassesRoot, ".asx");  // user only
    ASSERT_TRUE(asx);
    EXPECT_EQ(QueryText(*asx, ""), "ASXFile");
    const auto command = RegistryKey::Open(RootKey::ClassesRoot, "ASFFile\\Shell\\Open\\Command");
    ASSERT_TRUE(command);  // machine only
    EXPECT_EQ(QueryText(*command, ""),
              "\"C:\\Program Files\\Windows Media Player\\wmplayer.exe\" /prefetch:1");
    EXPECT_FALSE(RegistryKey::Open(RootKey::ClassesRoot, ".wmv"));
}

TEST_F(RegistryTest, EveryOpenFailsWithoutPrefixOrHive) {
    ::setenv("WINEPREFIX", (m_prefix.path() / "absent").c_str(), 1);
    for (RootKey root : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine}) {
        EXPECT_FALSE(RegistryKey::Open(root, ""));
    }

    // A prefix without user.reg: the machine side still answers, classes from it alone.
    ::setenv("WINEPREFIX", m_prefix.path().c_str(), 1);
    std::filesystem::remove(m_prefix.path() / "user.reg");
    EXPECT_FALSE(RegistryKey::Open(RootKey::CurrentUser, ""));
    const auto asf = RegistryKey::Open(RootKey::ClassesRoot, ".asf");
    ASSERT_TRUE(asf);
    EXPECT_EQ(QueryText(*asf, ""), "ASFFile");

    // A hive that is not one, or a directory in its place, is as good as none.
    WriteFile(m_prefix.path() / "system.reg", "garbage\n");
    EXPECT_FALSE(RegistryKey::Open(RootKey::LocalMachine, ""));
    std::filesystem::remove(m_prefix.path() / "system.reg");
    std::filesystem::create_directory(m_prefix.path() / "system.reg");
    EXPECT_FALSE(RegistryKey::Open(RootKey::LocalMachine, ""));
}

TEST_F(RegistryTest, RereadsAChangedHiveAndKeepsOpenKeysAsTheyWere) {
    const auto before = RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex");
    ASSERT_TRUE(before);

    // Same length, so only the file's times tell the versions apart.
    std::string changed = kSystemReg;
    changed.replace(changed.find("hello"), 5, "HELLO");
    WriteFile(m_prefix.path() / "system.reg", changed);
    const auto after = RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex");
    ASSERT_TRUE(after);
    EXPECT_EQ(QueryText(*after, "Text"), "HELLO");
    EXPECT_EQ(QueryText(*before, "Text"), "hello");

    // A broken rewrite closes the hive; repairing it opens it again.
    WriteFile(m_prefix.path() / "system.reg", "WINE REGISTRY");
    EXPECT_FALSE(RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex"));
    WriteFile(m_prefix.path() / "system.reg", kSystemReg + "\"Extra\"=\"x\"\n");
    const auto repaired = RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex");
    ASSERT_TRUE(repaired);
    EXPECT_EQ(QueryText(*repaired, "Extra"), "x");
}

TEST_F(RegistryTest, MachineSoftwareShowsTheThirtyTwoBitViewFirstOnWin64Prefixes) {
    WriteFile(m_prefix.path() / "system.reg",
              "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
              "[Software\\\\Vendor] 1\n\"Both\"=\"native\"\n\"NativeOnly\"=\"n\"\n"
              "[Software\\\\Wow6432Node\\\\Vendor] 1\n\"Both\"=\"wow\"\n"
              "[Software\\\\Wow6432Node\\\\Vendor\\\\Sub] 1\n@=\"sub\"\n"
              "[Software\\\\Classes\\\\.asf] 1\n@=\"shared\"\n"
              "[Software\\\\Wow6432Node\\\\Classes\\\\.asf] 1\n@=\"wow classes\"\n");
    const auto vendor = RegistryKey::Open(RootKey::LocalMachine, "SOFTWARE\\Vendor");
    ASSERT_TRUE(vendor);
    EXPECT_EQ(QueryText(*vendor, "Both"), "wow");
    EXPECT_EQ(QueryText(*vendor, "NativeOnly"), "n");
    const auto sub = RegistryKey::Open(RootKey::LocalMachine, "Software\\Vendor\\Sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(QueryText(*sub, ""), "sub");
    const auto classes = RegistryKey::Open(RootKey::LocalMachine, "Software\\Classes\\.asf");
    ASSERT_TRUE(classes);
    EXPECT_EQ(QueryText(*classes, ""), "shared");

    // A win32 prefix has no such view: Wow6432Node is just a key there.
    WriteFile(m_prefix.path() / "system.reg",
              "WINE REGISTRY Version 2\n#arch=win32\n"
              "[Software\\\\Wow6432Node\\\\Vendor] 1\n\"Both\"=\"wow\"\n");
    EXPECT_FALSE(RegistryKey::Open(RootKey::LocalMachine, "Software\\Vendor"));
}

}  // namespace
}  // namespace lumidex::platform
