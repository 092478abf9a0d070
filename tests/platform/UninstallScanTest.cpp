// The bounded search of a machine hive for one uninstall entry, fed whole and byte by byte.
#include "platform/UninstallScan.h"

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::platform {
namespace {

constexpr char kHead[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
constexpr char kEntry[] =
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Kelvora_is1] 1\n";
constexpr char kWowEntry[] =
    "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
    "Kelvora_is1] 1\n";

struct Case {
    const char* name;
    std::string text;
    ScanStatus status;
    std::string location;
};

TEST(UninstallScan, FindsTheEntrysLocationAndNothingElse) {
    const std::string head = kHead;
    const Case cases[] = {
        {"the entry", head + kEntry + "\"InstallLocation\"=\"C:\\\\Kelvora\\\\\"\n",
         ScanStatus::Found, "C:\\Kelvora\\"},
        {"letter case and CR LF, an expandable text",
         head +
             "[software\\\\microsoft\\\\windows\\\\currentversion\\\\uninstall\\\\KELVORA_IS1]\r\n"
             "\"installlocation\"=str(2):\"D:\\\\K\"\r\n",
         ScanStatus::Found, "D:\\K"},
        {"the 32-bit view wins over the native one",
         head + kEntry + "\"InstallLocation\"=\"C:\\\\Native\"\n\n" + kWowEntry +
             "\"InstallLocation\"=\"C:\\\\Wow\"\n",
         ScanStatus::Found, "C:\\Wow"},
        {"escapes become UTF-8", head + kEntry + "\"InstallLocation\"=\"C:\\\\\\x4e2d\\\\\"\n",
         ScanStatus::Found, "C:\\\xe4\xb8\xad\\"},
        {"the value in another key does not count",
         head + kEntry +
             "\"DisplayName\"=\"K\"\n[Software\\\\Other] 1\n"
             "\"InstallLocation\"=\"C:\\\\Other\"\n",
         ScanStatus::NoEntry, ""},
        {"a neighbour whose name only starts alike",
         head +
             "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Kelvora_is10] 1\n"
             "\"InstallLocation\"=\"C:\\\\X\"\n",
         ScanStatus::NoEntry, ""},
        {"not text", head + kEntry + "\"InstallLocation\"=dword:00000001\n", ScanStatus::NoEntry,
         ""},
        {"an over-long line is passed over, the value after it read",
         head + kEntry + "\"Blob\"=\"" + std::string(kMaxScanLineBytes, 'x') + "\"\n" +
             "\"InstallLocation\"=\"C:\\\\K\"\n",
         ScanStatus::Found, "C:\\K"},
        {"no signature", std::string(kEntry) + "\"InstallLocation\"=\"C:\\\\K\"\n",
         ScanStatus::NotAHive, ""},
        {"empty", "", ScanStatus::NotAHive, ""},
        {"no newline at the end", head + kEntry + "\"InstallLocation\"=\"C:\\\\K\"",
         ScanStatus::Found, "C:\\K"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::size_t piece : {c.text.size() + 1, std::size_t{1}, std::size_t{7}}) {
            UninstallScanner scanner("Kelvora_is1");
            for (std::size_t at = 0; at < c.text.size() && !scanner.Done(); at += piece) {
                scanner.Feed(std::string_view(c.text).substr(at, piece));
            }
            const UninstallScanResult result = scanner.Finish();
            EXPECT_EQ(result.status, c.status) << "pieces of " << piece;
            EXPECT_EQ(result.installLocation, c.location) << "pieces of " << piece;
        }
    }
}

TEST(UninstallScan, ReadsAFileNoFurtherThanItsLimit) {
    testing::TempDir dir;
    const std::string path = dir / "system.reg";
    const std::string filler =
        "[Software\\\\Classes\\\\x] 1\n\"v\"=\"" + std::string(4096, 'y') + "\"\n";
    std::string text = kHead;
    while (text.size() < (1u << 20)) {
        text += filler;
    }
    text += std::string(kEntry) + "\"InstallLocation\"=\"C:\\\\K\"\n";
    testing::WriteFile(path, text);
    EXPECT_EQ(ScanUninstallEntry(path, "Kelvora_is1").status, ScanStatus::Found);
    const UninstallScanResult cut = ScanUninstallEntry(path, "Kelvora_is1", 1u << 20);
    EXPECT_EQ(cut.status, ScanStatus::NoEntry);
    EXPECT_NE(cut.reason.find("first 1 MiB"), std::string::npos) << cut.reason;
    EXPECT_EQ(ScanUninstallEntry(dir / "missing", "Kelvora_is1").status, ScanStatus::Unreadable);
    EXPECT_EQ(ScanUninstallEntry(dir.path().string(), "Kelvora_is1").status,
              ScanStatus::Unreadable);
}

}  // namespace
}  // namespace lumidex::platform
