// Writing a saved result to the path the user chose, without ever losing a file by accident:
// a new file is created only where none exists, and a file the user agreed to replace is
// replaced whole or not at all.
#pragma once

#include <string>

namespace lumidex {

// Writes bytes to path. replace false: fails when path exists (even one that appeared after
// the user was asked). replace true: writes beside it and renames over it, so a failed write
// leaves the old file as it was. Empty on success, else why (the system's error text).
std::string WriteResultFile(const std::string& path, const std::string& bytes, bool replace);

}  // namespace lumidex
