// The search for the prefix holding the client, over a scratch home laid out as each tool
// lays out its prefixes.
#include "startup/PrefixDiscovery.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>

#include "platform/UninstallScan.h"
#include "startup/ClientChecks.h"
#include "support/DiagnosisText.h"
#include "support/Files.h"
#include "support/HiveWriter.h"

namespace lumidex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

constexpr char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvora_is1";

struct Home {
    TempDir dir;
    PrefixEnvironment environment;
    Home() { environment.home = dir.path().string(); }
    std::string At(const std::string& relative) const { return (dir.path() / relative).string(); }

    // A prefix at relative; with the client installed when location is not empty. seconds:
    // how old its user.reg is, so that the newest can be told.
    void Prefix(const std::string& relative, const std::string& location = "C:\\Kelvora\\",
                int seconds = 100) const {
        const fs::path prefix = dir.path() / relative;
        fs::create_directories(prefix / "drive_c" / "Kelvora");
        testing::HiveWriter hive;
        hive.Key("Software\\Classes\\.asf").Text("", "WMP.asf");
        if (!location.empty()) {
            hive.Key(kEntryKey).Text("DisplayName", "Kelvora").Text("InstallLocation", location);
        }
        WriteFile(prefix / "system.reg", hive.Text());
        WriteFile(prefix / "user.reg", "WINE REGISTRY Version 2\n");
        const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(seconds);
        fs::last_write_time(prefix / "user.reg", when);
    }
    void Lutris(const std::string& name, const std::string& yaml) const {
        fs::create_directories(dir.path() / ".config/lutris/games");
        WriteFile(dir.path() / ".config/lutris/games" / name, yaml);
    }
};

struct Case {
    const char* name;
    std::function<void(Home&)> lay;
    std::string path;  // relative to the home
    PrefixSource foundBy;
    std::vector<std::string> others = {};
    std::string skippedReason = {};  // a reason some skipped place must give
};

TEST(PrefixDiscovery, EachPlaceAndHowTheChoiceIsMade) {
    const Case cases[] = {
        {"~/.wine", [](Home& h) { h.Prefix(".wine"); }, ".wine", PrefixSource::Default},
        {"Bottles", [](Home& h) { h.Prefix(".local/share/bottles/bottles/Kelvora"); },
         ".local/share/bottles/bottles/Kelvora", PrefixSource::Bottles},
        {"Bottles under XDG_DATA_HOME",
         [](Home& h) {
             h.environment.xdgDataHome = h.At("data");
             h.Prefix("data/bottles/bottles/b");
             h.Prefix(".local/share/bottles/bottles/ignored", "C:\\Kelvora\\", 1);
         },
         "data/bottles/bottles/b", PrefixSource::Bottles},
        {"Bottles' Flatpak",
         [](Home& h) { h.Prefix(".var/app/com.usebottles.bottles/data/bottles/bottles/x"); },
         ".var/app/com.usebottles.bottles/data/bottles/bottles/x", PrefixSource::BottlesFlatpak},
        {"a Lutris game file naming a prefix outside ~/Games",
         [](Home& h) {
             h.Prefix("elsewhere/kelvora");
             h.Lutris("kelvora.yml", "game:\n  exe: x.exe\n  prefix: " + h.At("elsewhere/kelvora") +
                                         "\nrunner: wine\n");
         },
         "elsewhere/kelvora", PrefixSource::Lutris},
        {"a Lutris game file with ~",
         [](Home& h) {
             h.Prefix("p");
             h.Lutris("k.yml", "game:\n  prefix: ~/p\n");
         },
         "p", PrefixSource::Lutris},
        {"~/Games", [](Home& h) { h.Prefix("Games/kelvora"); }, "Games/kelvora",
         PrefixSource::Lutris},
        {"PlayOnLinux", [](Home& h) { h.Prefix(".PlayOnLinux/wineprefix/Kelvora"); },
         ".PlayOnLinux/wineprefix/Kelvora", PrefixSource::PlayOnLinux},
        {"CrossOver", [](Home& h) { h.Prefix(".cxoffice/Kelvora"); }, ".cxoffice/Kelvora",
         PrefixSource::CrossOver},
        {"winetricks", [](Home& h) { h.Prefix(".local/share/wineprefixes/kelvora"); },
         ".local/share/wineprefixes/kelvora", PrefixSource::Winetricks},
        {"Steam, reached by both its names once",
         [](Home& h) {
             h.Prefix(".local/share/Steam/steamapps/compatdata/123/pfx");
             fs::create_directories(h.At(".steam"));
             fs::create_directory_symlink(h.At(".local/share/Steam"), h.At(".steam/steam"));
         },
         ".steam/steam/steamapps/compatdata/123/pfx", PrefixSource::Steam},
        {"two prefixes hold the client: the newer user.reg wins, the other is named",
         [](Home& h) {
             h.Prefix(".wine", "C:\\Kelvora\\", 500);
             h.Prefix(".local/share/bottles/bottles/new", "C:\\Kelvora\\", 10);
         },
         ".local/share/bottles/bottles/new",
         PrefixSource::Bottles,
         {".wine"}},
        {"no prefix holds it: ~/.wine as before",
         [](Home& h) {
             h.Prefix(".wine", "");
             h.Prefix(".cxoffice/other", "");
         },
         ".wine", PrefixSource::None},
        {"an entry whose location is gone does not count",
         [](Home& h) {
             h.Prefix(".wine", "C:\\Gone\\");
             h.Prefix(".cxoffice/k");
         },
         ".cxoffice/k",
         PrefixSource::CrossOver,
         {},
         "which does not exist"},
        {"WINEPREFIX is used as it is, client or not",
         [](Home& h) {
             h.Prefix("mine", "");
             h.Prefix(".wine");
             h.environment.winePrefix = h.At("mine");
         },
         "mine", PrefixSource::WinePrefixVariable},
        {"a symlink loop and a malformed hive are passed over with their reasons",
         [](Home& h) {
             fs::create_directories(h.At(".PlayOnLinux/wineprefix"));
             fs::create_symlink("loop", h.At(".PlayOnLinux/wineprefix/loop"));
             h.Prefix(".cxoffice/broken");
             WriteFile(h.At(".cxoffice/broken/system.reg"), "not a hive\n");
             h.Prefix(".local/share/wineprefixes/k");
         },
         ".local/share/wineprefixes/k",
         PrefixSource::Winetricks,
         {},
         "symlink loop"},
        {"past the bound on candidates the rest is passed over, with the reason",
         [](Home& h) {
             for (std::size_t i = 0; i <= kMaxPrefixCandidates; ++i) {
                 fs::create_directories(h.At(".cxoffice/" + std::to_string(i)));
             }
             h.Prefix(".local/share/wineprefixes/k");
         },
         ".wine",
         PrefixSource::None,
         {},
         "candidate directories"},
        {"a malformed Lutris file is passed over",
         [](Home& h) {
             h.Lutris("bad.yml", "game: [unclosed\n");
             h.Prefix("Games/k");
         },
         "Games/k",
         PrefixSource::Lutris,
         {},
         "malformed YAML"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Home home;
        c.lay(home);
        const PrefixChoice choice = DiscoverPrefix(home.environment);
        EXPECT_EQ(choice.path, home.At(c.path));
        EXPECT_EQ(PrefixSourceName(choice.foundBy), PrefixSourceName(c.foundBy));
        std::vector<std::string> others;
        for (const std::string& other : c.others) {
            others.push_back(home.At(other));
        }
        EXPECT_EQ(choice.others, others);
        EXPECT_EQ(choice.ClientFound(),
                  c.foundBy != PrefixSource::None && c.foundBy != PrefixSource::WinePrefixVariable);
        if (!c.skippedReason.empty()) {
            std::string reasons;
            for (const SkippedPlace& skipped : choice.skipped) {
                reasons += skipped.path + ": " + skipped.reason + "\n";
            }
            EXPECT_NE(reasons.find(c.skippedReason), std::string::npos) << reasons;
        }
    }
}

TEST(PrefixDiscovery, TheOptionWinsOverWinePrefix) {
    Home home;
    home.Prefix("chosen");
    home.environment.winePrefix = home.At(".wine");
    const PrefixChoice choice = DiscoverPrefix(home.environment, home.At("chosen"));
    EXPECT_EQ(choice.path, home.At("chosen"));
    EXPECT_EQ(choice.foundBy, PrefixSource::Option);
    EXPECT_EQ(choice.installLocation, "C:\\Kelvora\\");
    EXPECT_EQ(choice.looked, std::vector<std::string>{home.At("chosen")});
}

// A huge hive elsewhere is read only as far as the scan's limit, so the search stays quick.
TEST(PrefixDiscovery, AHundredMegabyteHiveCostsLittle) {
    Home home;
    home.Prefix(".wine", "");
    {
        std::ofstream out(home.At(".wine/system.reg"), std::ios::binary | std::ios::app);
        const std::string block(1u << 20, 'x');
        for (int i = 0; i < 100; ++i) {
            out << "[Software\\\\Classes\\\\k" << i << "] 0\n\"v\"=\"" << block << "\"\n";
        }
    }
    home.Prefix(".cxoffice/k");
    const auto start = std::chrono::steady_clock::now();
    const PrefixChoice choice = DiscoverPrefix(home.environment);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(choice.foundBy, PrefixSource::CrossOver);
    EXPECT_LT(took, std::chrono::seconds(2));
}

// As root every directory is readable; the search then runs as nobody in a child.
TEST(PrefixDiscovery, AnUnreadableDirectoryIsPassedOverWithItsReason) {
    Home home;
    home.Prefix(".cxoffice/k");
    fs::create_directories(home.At(".PlayOnLinux/wineprefix"));
    fs::permissions(home.dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    ::chmod(home.At(".PlayOnLinux/wineprefix").c_str(), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0)) {
            ::_exit(3);
        }
        const PrefixChoice choice = DiscoverPrefix(home.environment);
        const bool skipped = !choice.skipped.empty() &&
                             choice.skipped.front().path == home.At(".PlayOnLinux/wineprefix");
        ::_exit(choice.foundBy == PrefixSource::CrossOver && skipped ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(home.At(".PlayOnLinux/wineprefix").c_str(), 0700);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ClientChecks, WhatRowEightSaysOfTheClient) {
    PrefixChoice none;
    none.path = "/h/.wine";
    none.looked = {"/h/.wine", "/h/\xFF/*"};
    none.skipped = {{"/h/x", "symlink loop"}};
    PrefixChoice several;
    several.path = "/new";
    several.installLocation = "C:\\K\\";
    several.others = {"/old"};
    platform::ClientProcess running;
    running.running = true;
    const struct {
        const char* name;
        const PrefixChoice& prefix;
        platform::ClientProcess client;
        std::vector<std::string> problems;
    } cases[] = {
        {"not found: where it looked, and what was passed over",
         none,
         {},
         {"warning client_prefix_not_found /h/.wine,/h/\xEF\xBF\xBD/* (/h/x: symlink loop)"}},
        {"several, not running",
         several,
         {},
         {"info client_in_several_prefixes /new,/old (used /new)",
          "info client_not_running C:\\K\\"}},
        {"several, running",
         several,
         running,
         {"info client_in_several_prefixes /new,/old (used /new)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> texts;
        for (const Problem& problem : PrefixProblems(c.prefix)) {
            texts.push_back(testing::ProblemText(problem));
        }
        for (const Problem& problem : ClientProblems(c.prefix, c.client)) {
            texts.push_back(testing::ProblemText(problem));
        }
        EXPECT_EQ(texts, c.problems);
    }
    EXPECT_FALSE(ProbeClient(none).running);
}

}  // namespace
}  // namespace lumidex
