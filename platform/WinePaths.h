// Where the Windows side of this machine lives: the user's Wine prefix, and how the Windows
// paths found there (registry values, the log path) map to host paths.
#pragma once

#include <string>
#include <string_view>

namespace lumidex::platform {

// The prefix chosen at start-up (SetWinePrefix), else $WINEPREFIX, else $HOME/.wine. The
// environment is read on every call so tests can point it at a fixture.
std::string WinePrefix();
// Fixes the prefix for the rest of the process; "" goes back to the environment's. Set once at
// start-up, before any thread reads the registry.
void SetWinePrefix(std::string prefix);

// "C:\Program Files\Kelvora\log\x.txt" -> "<prefix>/drive_c/Program Files/Kelvora/log/x.txt"
// via <prefix>/dosdevices/<drive>: (C: falls back to drive_c, Z: to /). A path without a drive
// letter is a host path already (absolute or relative) and only has its backslashes turned
// into slashes. A drive the prefix does not know maps to the empty string (opens then fail).
// Names match on disk regardless of ASCII letter case, as they do under Wine.
std::string MapWindowsPath(std::string_view windowsPath);
// The same through a prefix given, not the process's one.
std::string MapWindowsPathIn(const std::string& prefix, std::string_view windowsPath);

}  // namespace lumidex::platform
