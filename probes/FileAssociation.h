// Which program opens a file extension, from HKEY_CLASSES_ROOT of the user's Wine prefix.
#pragma once

#include <string>
#include <string_view>

namespace lumidex {

inline constexpr char kOpenCommandKey[] = "\\Shell\\Open\\Command";

class FileAssociation {
public:
    virtual ~FileAssociation() = default;

    // The open command of extension's program identifier (".asf" -> "WMP.AsfFile" ->
    // "\"C:\\...\\wmplayer.exe\" /prefetch:1"); empty when either is missing or empty.
    std::string GetAssociatedProgram(std::string_view extension) const;

    // True when that command contains program byte for byte (letter case counts). An empty
    // extension or program is unknown: it never matches, or every command would contain it.
    bool IsAssociatedWith(std::string_view extension, std::string_view program) const;
};

}  // namespace lumidex
