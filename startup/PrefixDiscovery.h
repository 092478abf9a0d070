// Which Wine prefix holds the Kelvora client. People install Windows programs through Bottles,
// Lutris, PlayOnLinux, CrossOver, winetricks or Steam as often as into ~/.wine, and start
// Lumidex from the menu where no WINEPREFIX is set; so unless the user chose one, the known
// places under the home directory are looked through for the prefix whose machine hive holds
// the client's uninstall entry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

// The look-up is bounded: a home with more candidate directories than this (a games folder of
// hundreds of entries) has the rest passed over, with a reason.
inline constexpr std::size_t kMaxPrefixCandidates = 300;
// A Lutris game file is a few hundred bytes; a larger one is not read.
inline constexpr std::size_t kMaxLutrisYamlBytes = 256u << 10;

enum class PrefixSource {
    WinePrefixVariable,  // $WINEPREFIX
    Option,              // --prefix, or LUMIDEX_PREFIX
    Bottles,
    BottlesFlatpak,
    Lutris,
    PlayOnLinux,
    CrossOver,
    Winetricks,
    Steam,
    Default,  // ~/.wine, holding the client
    None,     // no prefix holds the client: ~/.wine, as before the search existed
};

// As the JSON and the console name it: "WINEPREFIX", "option", "bottles", ...
std::string_view PrefixSourceName(PrefixSource source);

// What the search depends on, passed in so tests can point it at a fixture home.
struct PrefixEnvironment {
    std::string home;
    std::string winePrefix;     // $WINEPREFIX; "" when unset
    std::string xdgDataHome;    // "" for ~/.local/share
    std::string xdgConfigHome;  // "" for ~/.config

    static PrefixEnvironment FromProcess();
};

struct SkippedPlace {
    std::string path;
    std::string reason;
};

struct PrefixChoice {
    std::string path;  // the prefix the Windows side is read from
    PrefixSource foundBy = PrefixSource::None;
    // The client's install location in that prefix, as its registry holds it; "" when the
    // prefix does not hold the client.
    std::string installLocation;
    // Other prefixes that hold the client too, newest first.
    std::vector<std::string> others;
    // The places looked at ("~/.wine", ".../bottles/bottles/*"), in order; only the explicit
    // prefix when one was given.
    std::vector<std::string> looked;
    // Directories and hives passed over, and why.
    std::vector<SkippedPlace> skipped;

    bool ClientFound() const { return !installLocation.empty(); }
};

// explicitPrefix: the user's own choice (--prefix, LUMIDEX_PREFIX), "" for none. An explicit
// choice, and then $WINEPREFIX, is used as it is; otherwise the places are searched.
PrefixChoice DiscoverPrefix(const PrefixEnvironment& environment,
                            std::string_view explicitPrefix = {});

}  // namespace lumidex
