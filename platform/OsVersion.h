// The version facts a Windows system gives about itself (GetVersionExA, GetNativeSystemInfo,
// GetSystemMetrics(SM_SERVERR2)) as one record, and the OS flags decided from it. On Linux
// the record says "not Windows" and carries the system's own name instead, so no Windows flag
// is ever set here; tests decide flags from records they build.
#pragma once

#include <cstdint>
#include <string>

namespace lumidex::platform {

inline constexpr uint32_t kPlatformWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr uint32_t kPlatformWin32Nt = 2;       // VER_PLATFORM_WIN32_NT
// Not a value Windows gives: the system is no Windows at all.
inline constexpr uint32_t kPlatformNotWindows = 0xffffffff;
inline constexpr uint8_t kNtWorkstation = 1;       // VER_NT_WORKSTATION
inline constexpr uint16_t kArchitectureAmd64 = 9;  // PROCESSOR_ARCHITECTURE_AMD64

// OS flags; at most one is set.
inline constexpr uint16_t kOsWin98 = 0x0001;
inline constexpr uint16_t kOsWinNt = 0x0002;
inline constexpr uint16_t kOsWin2000 = 0x0004;
inline constexpr uint16_t kOsWinXp = 0x0008;
inline constexpr uint16_t kOsWinXpSp2 = 0x0010;
inline constexpr uint16_t kOsWin2003 = 0x0020;
inline constexpr uint16_t kOsWin2003R2 = 0x0040;
inline constexpr uint16_t kOsWinMe = 0x0080;
inline constexpr uint16_t kOsWinVista = 0x0100;
inline constexpr uint16_t kOsWinLonghorn = 0x0200;
inline constexpr uint16_t kOsWinXp64 = 0x0400;

struct OsVersionRecord {
    bool available = false;  // false: the system refused to give its version
    uint32_t platformId = kPlatformNotWindows;
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string servicePack;  // szCSDVersion, as the system spells it
    uint8_t productType = 0;  // wProductType; 0 when only the basic structure answered
    bool serverR2 = false;    // GetSystemMetrics(SM_SERVERR2) != 0
    uint16_t nativeArchitecture = 0;
    // The name of a system that is no Windows ("Debian GNU/Linux 12 (bookworm)").
    std::string systemName;
};

// The record of this machine. rootDir is where /etc/os-release is looked for ("/" normally;
// tests pass a fixture tree). The name is os-release's PRETTY_NAME, else the kernel's name
// and release ("Linux 6.1.0-18-amd64").
OsVersionRecord QueryOsVersion(const std::string& rootDir = "/");

// The OS flag the record describes, 0 for a system the table does not know.
uint16_t OsFlagsFor(const OsVersionRecord& record);

// PRETTY_NAME of an os-release text, unquoted; empty when it has none.
std::string PrettyNameOf(const std::string& osRelease);

}  // namespace lumidex::platform
