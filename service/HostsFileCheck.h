// The hosts-file check: finds the entries that map a name of the product's domains to a fixed
// address, and sorts them into wrong mappings (private, loopback or unusable addresses) and
// product mappings to public addresses.
//
// A line is judged when its first byte is not "#" or ";" (a marker after leading blanks does
// not comment), and, after leading white space, it holds a space (a tab does not separate)
// after an address part of at least 7 bytes. The first host name after the address is
// looked at, lower-cased, and only when it contains the primary or the secondary domain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex {

// Where the check reads on this system.
inline constexpr char kHostsFilePath[] = "/etc/hosts";

// Where Windows keeps the hosts file, by the OS flags of the system detection: 95, 98 and Me
// "\hosts.asm" under the Windows directory; 2000, XP (any service pack) and 2003 (R2 too)
// "\drivers\etc\hosts" under the system directory. Nothing for any other system (NT 3.51
// and 4.0, Vista and later, 64-bit XP, one the detection did not recognise) or for a path
// longer than MAX_PATH.
std::optional<std::string> WindowsHostsFilePath(std::uint16_t osFlags, std::string_view windowsDir,
                                                std::string_view systemDir);

struct HostsFileFindings {
    // 1 when no entry names a product domain, else 0.
    int result = 1;
    // "\r\n映射错误:<address><-><host>" pieces joined by ",".
    std::string wrongMappings;
    // "\r\nKLV映射:<address><-><host>" pieces joined by ",".
    std::string productMappings;
    // One diagnostic-log entry per product mapping.
    std::vector<std::string> logLines;
    // One per mapping, in file order: its host name, and "address name" as the detail.
    std::vector<Problem> problems;
};

// Judges the lines of a hosts file, fed one at a time (without their line feed).
class HostsFileScanner {
public:
    void Line(std::string_view line);
    // The findings, with the separator after the last piece of each text removed.
    HostsFileFindings Finish();

private:
    HostsFileFindings m_findings;
};

// The whole text, cut at line feeds.
HostsFileFindings ScanHostsText(std::string_view text);

// Gives the next bytes of an opened file into buffer: their count, 0 at the end of the file,
// negative on a read error.
using HostsFileRead = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;

// The file's bytes, cut at line feeds; a line longer than kMaxHostsLineBytes is judged by its
// first bytes. A read error ends the file where it stands: the whole lines before it count.
HostsFileFindings ScanHostsFile(const HostsFileRead& read);

// Reads the hosts file at path, logs, and fills the two texts (passed in empty). Returns 1
// when the file maps no product domain in the lines read; 0 otherwise, with both texts empty
// when the file could not be opened. Notes a problem per mapping, or the unreadable file.
int CheckHostsFile(const std::string& path, std::string& wrongMappings,
                   std::string& productMappings);

}  // namespace lumidex
