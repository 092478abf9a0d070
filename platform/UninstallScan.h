// Finds one installer's uninstall entry in a Wine machine hive (system.reg) without building
// the registry tree: only key header lines and the entry's own value lines are looked at, and
// at most a bounded number of bytes is read, so that looking through many prefixes (one of
// them with a hive of a hundred megabytes) costs little.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumidex::platform {

// A machine hive with many programs installed is a few megabytes; a hive larger than this is
// read only this far (its entry, if beyond, is not seen) so that one damaged or huge file
// cannot hold up the search.
inline constexpr std::size_t kMaxScanHiveBytes = 32u << 20;
// Key header and string value lines are short; a longer line (a long hex value) is skipped
// without being held.
inline constexpr std::size_t kMaxScanLineBytes = 64u << 10;

enum class ScanStatus {
    Found,       // the entry with a text InstallLocation
    NoEntry,     // a hive without the entry (or the entry without the value)
    NotAHive,    // the first line names no Wine registry file
    Unreadable,  // the file cannot be opened or read
};

struct UninstallScanResult {
    ScanStatus status = ScanStatus::NoEntry;
    // UTF-8, as the value holds it (a Windows path).
    std::string installLocation;
    // Why nothing was found, for the one who looks for it: "no such entry", "not a Wine
    // registry file", an errno text, "read only the first N bytes".
    std::string reason;
};

// The scan as a state machine over pieces of any size.
//
// Accepted grammar (Wine's own hive files):
//   file    = signature-line *line
//   key     = "[" escaped-path "]" [blank text]          ; path relative to \Machine
//   value   = quoted-name "=" ( quoted | "str(2):" quoted | other-data )
// The entry is Software\Microsoft\Windows\CurrentVersion\Uninstall\<entry> or the 32-bit view
// of it under Software\Wow6432Node; the 32-bit view wins, as it does for a 32-bit program.
class UninstallScanner {
public:
    // entryName: a key name that needs no escape in a hive ("Kelvora_is1").
    explicit UninstallScanner(std::string_view entryName);

    void Feed(std::string_view bytes);
    // True once nothing later in the file can change the answer.
    bool Done() const { return m_state == State::Done || m_state == State::Failed; }
    UninstallScanResult Finish();

private:
    enum class State {
        Signature,  // waits for the first line, "WINE REGISTRY Version 2"
        Keys,       // waits for a key header; other lines are passed over unread
        InEntry,    // inside the entry's key: waits for its InstallLocation or the next key
        Done,       // both views seen, or the 32-bit one found
        Failed,     // not a Wine hive
    };
    void Line(std::string_view line);
    void KeyLine(std::string_view line);
    bool MayBeEntryHeader(std::string_view line) const;
    void ValueLine(std::string_view line);

    std::string m_entryName;
    std::string m_nativePath;
    std::string m_wowPath;
    State m_state = State::Signature;
    bool m_inWowEntry = false;
    bool m_atLineStart = true;
    bool m_skippingLine = false;  // the line is passed over or too long to hold
    std::string m_line;
    std::string m_native;  // InstallLocation of the native view, "" when not seen
    std::string m_wow;
    bool m_haveNative = false;
    bool m_haveWow = false;
};

// Reads hivePath through the scanner, at most byteLimit bytes.
UninstallScanResult ScanUninstallEntry(const std::string& hivePath, std::string_view entryName,
                                       std::size_t byteLimit = kMaxScanHiveBytes);

}  // namespace lumidex::platform
