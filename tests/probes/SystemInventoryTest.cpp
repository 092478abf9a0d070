#include "probes/SystemInventory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/RegistryReader.h"
#include "probes/DefaultValue.h"
#include "probes/FileAssociation.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"
#include "support/HiveWriter.h"
#include "tools/pe-writer/PeWriter.h"

namespace lumidex {
namespace {

using platform::OsVersionRecord;
using testing::HiveWriter;
namespace fs = std::filesystem;

constexpr char kWmpDir[] = "C:\\Program Files\\Windows Media Player";
constexpr char kWmpPath[] = "C:\\Program Files\\Windows Media Player\\wmplayer.exe";

OsVersionRecord Nt(uint32_t major, uint32_t minor, std::string sp = {}, uint8_t product = 1,
                   bool r2 = false, uint16_t arch = 0) {
    OsVersionRecord r;
    r.available = true;
    r.platformId = platform::kPlatformWin32Nt;
    r.major = major;
    r.minor = minor;
    r.servicePack = std::move(sp);
    r.productType = product;
    r.serverR2 = r2;
    r.nativeArchitecture = arch;
    return r;
}

OsVersionRecord NineX(uint32_t minor) {
    OsVersionRecord r = Nt(4, minor);
    r.platformId = platform::kPlatformWin32Windows;
    return r;
}

TEST(OsName, DecisionTable) {
    OsVersionRecord linux;
    linux.available = true;
    linux.systemName = "Lab Linux 1";
    const struct {
        OsVersionRecord record;
        uint16_t flags;
        std::string name;
    } rows[] = {
        {NineX(0), 0x0001, "Microsoft Windows 98"},  // Windows 95 too
        {NineX(10), 0x0001, "Microsoft Windows 98"},
        {NineX(90), 0x0080, "Microsoft Windows me"},
        {Nt(3, 51), 0x0002, "Microsoft Windows NT"},
        {Nt(4, 0), 0x0002, "Microsoft Windows NT"},
        {Nt(5, 0), 0x0004, "Microsoft Windows 2000"},
        {Nt(5, 1, "Service Pack 2"), 0x0010, "Microsoft Windows xpSP2"},
        {Nt(5, 1, "SERVICE PACK 2"), 0x0010, "Microsoft Windows xpSP2"},
        {Nt(5, 1, "Service Pack 3"), 0x0008, "Microsoft Windows xp"},
        {Nt(5, 1, ""), 0x0008, "Microsoft Windows xp"},
        {Nt(5, 2, "", 3, true, 9), 0x0040, "Microsoft Windows 2003R2"},
        {Nt(5, 2, "", 1, false, 9), 0x0400, "Microsoft Windows xp64"},
        {Nt(5, 2, "", 1, false, 0), 0x0020, "Microsoft Windows 2003"},
        {Nt(5, 2, "", 3, false, 9), 0x0020, "Microsoft Windows 2003"},
        {Nt(6, 0, "", 1), 0x0100, "Microsoft Windows Vista"},
        {Nt(6, 0, "", 3), 0x0200, "Microsoft Windows Longhorn"},
        {Nt(6, 1), 0, ""},
        {NineX(20), 0, ""},
        {linux, 0, "Lab Linux 1"},
    };
    for (const auto& row : rows) {
        OsNameResolver resolver([&] { return row.record; });
        EXPECT_EQ(resolver.GetOsName(), row.name) << row.name;
        EXPECT_EQ(resolver.OsFlags(), row.flags) << row.name;
    }
    SystemInventory refused([] { return OsVersionRecord{}; });
    EXPECT_FALSE(refused.DetectOs());
    EXPECT_EQ(OsNameResolver([] { return OsVersionRecord{}; }).GetOsName(), "");
}

TEST(OsName, LinuxNameFromOsReleaseElseKernel) {
    testing::TempDir root;
    fs::create_directories(root.path() / "etc");
    fs::create_directories(root.path() / "usr/lib");
    EXPECT_EQ(platform::QueryOsVersion(root.path().string()).systemName.rfind("Linux ", 0), 0u);
    testing::WriteFile(root.path() / "usr/lib/os-release", "PRETTY_NAME='Vendor Linux'\n");
    EXPECT_EQ(platform::QueryOsVersion(root.path().string()).systemName, "Vendor Linux");
    testing::WriteFile(root.path() / "etc/os-release",
                       "NAME=\"Lab\"\r\nPRETTY_NAME=\"Lab \\\"Linux\\\" 12 (test)\"\r\nID=lab\n");
    const OsVersionRecord record = platform::QueryOsVersion(root.path().string());
    EXPECT_EQ(record.systemName, "Lab \"Linux\" 12 (test)");
    EXPECT_EQ(platform::OsFlagsFor(record), 0);
    EXPECT_EQ(platform::PrettyNameOf("PRETTY_NAME=Bare\n"), "Bare");
    EXPECT_EQ(platform::PrettyNameOf("NAME=x\n"), "");
}

class InventoryTest : public ::testing::Test {
protected:
    void SetUp() override { m_prefix.Activate(); }

    std::string HostPath(const std::string& windowsTail) {
        fs::path p = m_prefix.path() / "drive_c";
        std::string tail = windowsTail;
        for (char& c : tail) {
            c = c == '\\' ? '/' : c;
        }
        return (p / tail).string();
    }
    void WritePe(const std::string& hostPath, uint16_t major, uint16_t build, bool translation) {
        tools::PeVersionSpec pe;
        pe.fileVersion[0] = major;
        pe.fileVersion[3] = build;
        pe.productVersion[0] = 99;
        pe.withTranslation = translation;
        fs::create_directories(fs::path(hostPath).parent_path());
        testing::WriteFile(hostPath, tools::MakeVersionPe(pe));
    }
    void WriteSystem(const HiveWriter& hive) {
        testing::WriteFile(m_prefix.path() / "system.reg", hive.Text());
    }

    testing::FixturePrefix m_prefix;
};

TEST_F(InventoryTest, SoftwareVersionsFromAppPaths) {
    const std::string wmp = HostPath("Program Files/Windows Media Player/wmplayer.exe");
    WritePe(wmp, 9, 2980, true);
    const std::string appPaths = std::string(kAppPathsKey) + "\\";
    const struct {
        const char* what;
        HiveWriter hive;
        std::string path;
        std::string version;
    } rows[] = {
        {"mixed case default value",
         HiveWriter()
             .Key(appPaths + "wmplayer.exe")
             .Text("", "C:\\Program Files\\Windows Media Player\\WMPlayer.EXE")
             .Text("Path", kWmpDir),
         "c:\\program files\\windows media player\\wmplayer.exe", "9.0.0.2980"},
        {"a later match overwrites",
         HiveWriter()
             .Key(appPaths + "wmplayer.exe")
             .Text("", kWmpPath)
             .Text("Z", "C:\\gone\\wmplayer.exe"),
         "c:\\gone\\wmplayer.exe", ""},
        {"numbers are no paths",
         HiveWriter().Key(appPaths + "wmplayer.exe").Dword("wmplayer.exe", "00000001"), "", ""},
        {"missing key", HiveWriter().Key(appPaths + "other.exe").Text("", kWmpPath), "", ""},
    };
    for (const auto& row : rows) {
        WriteSystem(row.hive);
        SystemInventory inventory;
        inventory.ReadSoftwareVersions();
        EXPECT_EQ(inventory.Wmp().path, row.path) << row.what;
        EXPECT_EQ(inventory.Wmp().versionText, row.version) << row.what;
        EXPECT_EQ(inventory.Wmp().name, row.path.empty() ? "" : "WMP") << row.what;
        EXPECT_EQ(inventory.Ie().path, "") << row.what;
    }
}

TEST_F(InventoryTest, EnumValuesNamesTheDefaultValue) {
    WriteSystem(HiveWriter()
                    .Key("Software\\K")
                    .Text("", "only")
                    .Key("Software\\Big")
                    .Text("v", std::string(RegistryReader::kEnumBufferBytes, 'x')));
    RegistryReader reader(platform::RootKey::LocalMachine, "Software");
    ASSERT_TRUE(reader.EnumValues("K"));
    ASSERT_EQ(reader.Values().size(), 1u);
    EXPECT_STREQ(reader.Values().at("<NO NAME>").data, "only");
    ASSERT_TRUE(reader.EnumValues("Big"));  // 1029 characters and a zero do not fit
    EXPECT_TRUE(reader.Values().empty());
    EXPECT_FALSE(reader.EnumValues("Missing"));
}

TEST_F(InventoryTest, FileVersionOfGeneratedAndBrokenFiles) {
    const std::string good = HostPath("good.exe");
    const std::string bare = HostPath("bare.exe");
    WritePe(good, 10, 3802, true);
    WritePe(bare, 10, 3802, false);
    const std::string image = testing::ReadAll(good);
    const std::size_t translation = image.find(std::string("T\0r\0a\0n", 7));
    ASSERT_NE(translation, std::string::npos);
    testing::WriteFile(HostPath("cut.exe"), image.substr(0, translation));
    testing::WriteFile(HostPath("garbage.exe"), std::string(3000, '\x5a'));
    const struct {
        std::string path;
        bool ok;
        std::string text;
    } rows[] = {
        {"C:\\good.exe", true, "10.0.0.3802"}, {good, true, "10.0.0.3802"},
        {"C:\\bare.exe", false, ""},           {"C:\\cut.exe", false, ""},
        {"C:\\garbage.exe", false, ""},        {"C:\\missing.exe", false, ""},
    };
    for (const auto& row : rows) {
        uint32_t high = 7;
        uint32_t low = 7;
        std::string text;
        EXPECT_EQ(SystemInventory::GetFileVersion(row.path, high, low, text), row.ok) << row.path;
        EXPECT_EQ(text, row.text) << row.path;
        if (row.ok) {
            EXPECT_EQ(high, 0x000a0000u);
            EXPECT_EQ(low, 3802u);
        }
    }
}

TEST_F(InventoryTest, Associations) {
    const std::string wmpCommand = std::string("\"") + kWmpPath + "\" /prefetch:1";
    WriteSystem(HiveWriter()
                    .Key("Software\\Classes\\.asf")
                    .Text("", "WMP.AsfFile")
                    .Key("Software\\Classes\\WMP.AsfFile\\shell\\open\\command")
                    .Text("", wmpCommand)
                    .Key("Software\\Classes\\.asx")
                    .Text("", "Other.Playlist")
                    .Key("Software\\Classes\\Other.Playlist\\Shell\\Open\\Command")
                    .Text("", "\"C:\\Other\\player.exe\" \"%1\"")
                    .Key("Software\\Classes\\.wmv")
                    .Text("Content Type", "video/x-ms-wmv")
                    .Key("Software\\Classes\\.xyz")
                    .Text("", "No.Command"));
    const FileAssociation association;
    const struct {
        std::string extension;
        std::string program;
        bool associated;
        std::string command;
    } rows[] = {
        {".asf", kWmpPath, true, wmpCommand},
        {".asf", "c:\\program files\\windows media player\\wmplayer.exe", false, wmpCommand},
        {".asf", "", false, wmpCommand},
        {".asx", kWmpPath, false, "\"C:\\Other\\player.exe\" \"%1\""},
        {".wmv", kWmpPath, false, ""},
        {".xyz", kWmpPath, false, ""},
        {".none", kWmpPath, false, ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(association.IsAssociatedWith(row.extension, row.program), row.associated)
            << row.extension << " " << row.program;
        EXPECT_EQ(association.GetAssociatedProgram(row.extension), row.command) << row.extension;
    }
    std::string out = "unchanged";
    EXPECT_EQ(ReadDefaultValue(platform::RootKey::ClassesRoot, ".none", out), kErrorFileNotFound);
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(ReadDefaultValue(platform::RootKey::ClassesRoot, ".wmv", out), 0);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace lumidex
