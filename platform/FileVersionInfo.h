// The version resource of a Windows program file (GetFileVersionInfoSizeA,
// GetFileVersionInfoA, VerQueryValueA). The files come from wherever the registry points,
// so every offset and length is checked: a malformed file has no version, never a crash.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::platform {

// Which rule rejected a file, for tests and the fuzz driver.
enum class PeVersionError {
    None,
    Unreadable,            // no such file, or it cannot be mapped
    NoDosHeader,           // no "MZ", or the PE header offset is outside the file
    NoPeHeader,            // no "PE\0\0", or the COFF header is cut short
    BadOptionalHeader,     // unknown magic, or the data directories are cut short
    NoResources,           // the resource directory is empty
    RvaOutsideSections,    // an address no section backs with file bytes
    BadResourceDirectory,  // a directory or entry is cut short or points out of range
    NoVersionResource,     // no RT_VERSION entry
    BadVersionBlock,       // VS_VERSIONINFO is malformed
};

std::string_view PeVersionErrorText(PeVersionError error);

struct PeVersionResult {
    PeVersionError error = PeVersionError::Unreadable;
    std::vector<uint8_t> block;  // the VS_VERSIONINFO bytes when error is None
};

// The version block of a PE image held in memory.
PeVersionResult ExtractVersionBlock(std::span<const uint8_t> image);
// The same for a file; path is a Windows path (mapped through the Wine prefix) or a host path.
PeVersionResult ReadVersionBlock(std::string_view path);

// The value of subBlock ("\\" the root's VS_FIXEDFILEINFO, "\\VarFileInfo\\Translation", ...)
// inside a block; names match in any ASCII letter case. False when the path names nothing or
// the block is malformed. value is a view into block.
bool VerQueryValue(std::span<const uint8_t> block, std::string_view subBlock,
                   std::span<const uint8_t>& value);

// The Windows calls' shapes. Size 0 means "no version information".
uint32_t GetFileVersionInfoSizeA(std::string_view path);
bool GetFileVersionInfoA(std::string_view path, std::vector<uint8_t>& block);
inline bool VerQueryValueA(std::span<const uint8_t> block, std::string_view subBlock,
                           std::span<const uint8_t>& value) {
    return VerQueryValue(block, subBlock, value);
}

inline constexpr uint32_t kFixedFileInfoSignature = 0xfeef04bd;
inline constexpr std::size_t kFixedFileInfoBytes = 52;

}  // namespace lumidex::platform
