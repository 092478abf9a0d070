// A throw-away Wine prefix for tests: a temporary directory with the hive files the
// registry stand-in reads, so no test depends on this machine's own ~/.wine.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace lumidex::testing {

// Escapes a value for a double-quoted string of a Wine hive file.
inline std::string HiveQuoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

class FixturePrefix {
public:
    FixturePrefix() { std::filesystem::create_directories(m_dir.path() / "drive_c"); }

    const std::filesystem::path& path() const { return m_dir.path(); }

    // system.reg with the product's uninstall entry; location as the registry holds it.
    void WriteInstallLocation(const std::string& location) {
        std::ofstream out(m_dir.path() / "system.reg", std::ios::binary);
        out << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
            << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Kelvora_is1] "
               "1700000000\n#time=1d9a0c2b3c4d5e6\n"
            << "\"DisplayName\"=\"Kelvora\"\n"
            << "\"InstallLocation\"=\"" << HiveQuoted(location) << "\"\n";
    }

    // Points WINEPREFIX at this prefix for the life of the object.
    void Activate() { ::setenv("WINEPREFIX", m_dir.path().c_str(), 1); }

private:
    TempDir m_dir;
};

}  // namespace lumidex::testing
