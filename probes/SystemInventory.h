// What the software checks report about this machine: the OS flags and its display name,
// and the install path and file version of the media player and the web browser, found
// through the registry's App Paths of the user's Wine prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/OsVersion.h"

namespace lumidex {

inline constexpr char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
inline constexpr char kWmpExecutable[] = "wmplayer.exe";
inline constexpr char kIeExecutable[] = "iexplore.exe";

struct SoftwareVersion {
    uint32_t versionHigh = 0;  // major << 16 | minor
    uint32_t versionLow = 0;   // build << 16 | revision
    std::string versionText;   // "10.0.0.3802"; empty when unread
    std::string path;          // as the registry holds it, lower-cased
    std::string name;          // "WMP" or "IE"
};

class SystemInventory {
public:
    using VersionSource = std::function<platform::OsVersionRecord()>;

    // source: where DetectOs asks for the version record; empty for this machine's.
    explicit SystemInventory(VersionSource source = {});
    virtual ~SystemInventory() = default;

    // Sets OsFlags() from the version record; false only when the system gave none.
    bool DetectOs();
    // Fills the WMP and IE records from App Paths; a missing key leaves its record alone.
    void ReadSoftwareVersions();
    // The file version of the program at path (a Windows path), e.g. 10.0.0.3802. False when
    // the file has no version block or no translation table.
    static bool GetFileVersion(std::string_view path, uint32_t& versionHigh, uint32_t& versionLow,
                               std::string& versionText);

    uint16_t OsFlags() const { return m_osFlags; }
    const SoftwareVersion& Wmp() const { return m_wmp; }
    const SoftwareVersion& Ie() const { return m_ie; }

protected:
    // The record of the last DetectOs.
    const platform::OsVersionRecord& VersionRecord() const { return m_record; }

private:
    VersionSource m_source;
    platform::OsVersionRecord m_record;
    SoftwareVersion m_wmp;
    SoftwareVersion m_ie;
    uint16_t m_osFlags = 0;
};

class OsNameResolver : public SystemInventory {
public:
    explicit OsNameResolver(VersionSource source = {});

    // Runs DetectOs; the name of the lowest flag set, in the table's spelling. A system that
    // is no Windows answers with its own name; a Windows the table does not know, with "".
    std::string GetOsName();

private:
    std::map<uint32_t, std::string> m_names;  // flag -> name
};

// Whether the check list has the XP SP2 row: the running system is XP with service pack 2.
// The one rule both front ends fill their list by.
bool HasXpSp2Row(const SystemInventory::VersionSource& source = {});

}  // namespace lumidex
