// Reading a small system file whole, with a cap: /proc files report a size of 0, so the file
// is read until its end or the cap, whichever comes first.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace lumidex::platform {

// The file's first maxBytes bytes (all of it when shorter); nullopt when it cannot be opened
// or read.
std::optional<std::string> ReadBoundedFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace lumidex::platform
