// Whether a Windows program runs under Wine, and the ports it holds, read from /proc: the
// user's own processes only, so no privilege is needed. Wine puts the program's Windows path
// in the process's command line, which is how the program is told among the user's processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::platform {

// A command line is a few hundred bytes; what is beyond this is not looked at.
inline constexpr std::size_t kMaxCommandLineBytes = 64u << 10;
// A desktop session runs a few hundred processes; past this many the rest are not looked at.
inline constexpr std::size_t kMaxProcessesLooked = 32768;
// The client holds a few dozen descriptors; a process with more has only these looked at.
inline constexpr std::size_t kMaxDescriptorsLooked = 4096;
// A socket table of a busy host (150 bytes a socket); larger tables are read this far.
inline constexpr std::size_t kMaxSocketTableBytes = 8u << 20;

struct ProcessPorts {
    std::vector<std::uint16_t> udp;  // bound, ascending, each once
    std::vector<std::uint16_t> tcp;  // listening
};

struct ClientProcess {
    bool running = false;
    std::optional<int> pid;
    ProcessPorts ports;
};

// True when argument names an executable (".exe") under directory, in Windows or Unix form,
// without regard to ASCII letter case or the kind of slash.
bool IsProgramUnder(std::string_view argument, std::string_view directory);

// One line of /proc/net/{udp,udp6,tcp,tcp6}, as far as the port question needs it.
struct SocketEntry {
    std::uint64_t inode = 0;
    std::uint16_t localPort = 0;
    std::uint8_t state = 0;  // TCP's state number; 0x0A is listening
};
// The table's lines that parse; the header and malformed lines are passed over.
std::vector<SocketEntry> ParseSocketTable(std::string_view text);

// The ports held by process pid, from procRoot ("/proc", or a fixture tree in tests).
ProcessPorts PortsOfProcess(const std::string& procRoot, int pid);

// The user's process whose program lies under one of directories (the client's install
// location as the registry holds it, and the host path it maps to); when several do, the one
// holding the most sockets.
ClientProcess FindClientProcess(const std::string& procRoot,
                                const std::vector<std::string>& directories);

}  // namespace lumidex::platform
