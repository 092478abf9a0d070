// A file named the Windows way: a name with a backslash is a full path, a bare name lives in
// the base directory. Paths are kept in Windows form and mapped to host paths (through the
// Wine prefix's drives) only where a file is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace lumidex {

class LocalFile {
public:
    // Based on the directory of the running program.
    LocalFile();
    explicit LocalFile(std::string baseDirectory);

    LocalFile(LocalFile&&) noexcept = default;
    LocalFile& operator=(LocalFile&&) noexcept = default;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    ~LocalFile() = default;

    // Closes any open file, then opens the named one, creating it when missing; for reading,
    // or for reading and writing. Other programs may read the file meanwhile; a writable open
    // holds an exclusive advisory lock (flock), so a second writable open of the same file, by
    // this or another process, fails until the first is closed.
    bool Open(std::string_view name, bool writable);

    // Moves the file position to offset (a negative offset keeps the current position) and
    // cuts the file there. False when no file is open, the position cannot be set, or the cut
    // fails (a file opened for reading only).
    bool Truncate(int64_t offset);

    void Close();

    // Same path rule as Open: true when the path exists and is not a directory.
    bool Exists(std::string_view name) const;
    // path is a full path: true when it exists and is a directory.
    static bool IsDirectory(std::string_view path);

    // Base directory + "\" + name, or name itself when it holds a backslash.
    std::string FullPath(std::string_view name) const;

    const std::string& BaseDirectory() const { return m_baseDirectory; }
    const std::string& CurrentPath() const { return m_currentPath; }  // empty when closed
    bool IsOpen() const { return static_cast<bool>(m_fd); }
    int Descriptor() const { return m_fd.get(); }

    // The directory of the running program ("." when the system will not say).
    static std::string ProgramDirectory();

private:
    std::string m_baseDirectory;
    std::string m_currentPath;
    platform::UniqueFd m_fd;
};

}  // namespace lumidex
