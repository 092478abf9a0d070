#include "platform/ShellExecute.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "platform/SystemError.h"
#include "platform/WinePaths.h"

extern char** environ;

namespace lumidex::platform {
namespace {

intptr_t WindowsCode(int error) {
    switch (error) {
        case ENOENT:
            return kSeFileNotFound;
        case ENOTDIR:
            return kSePathNotFound;
        case EACCES:
        case EPERM:
            return kSeAccessDenied;
        case ENOEXEC:
        case EINVAL:
            return kSeBadFormat;
        default:
            return kSeOutOfResources;
    }
}

// Windows reaps a started program on its own; here someone must wait for it, or every
// launch leaves a zombie behind until this process ends.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        RetryAfterSignal([&] { return ::waitpid(pid, &status, 0); });
    }).detach();
}

intptr_t Spawn(const std::string& program, const std::vector<std::string>& args, bool searchPath,
               const char* directory) {
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> storage = args;
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (directory != nullptr && *directory != '\0') {
        const std::string hostDirectory = MapWindowsPath(directory);
        posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());
    }
    pid_t pid = -1;
    const int error =
        searchPath ? ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                   : ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return WindowsCode(error);
    }
    ReapInBackground(pid);
    return kShellExecuteStarted;
}

intptr_t OpenWithDesktop(const std::string& target, const char* directory) {
    const intptr_t result = Spawn("xdg-open", {target}, true, directory);
    return result == kSeFileNotFound ? kSeNoAssociation : result;
}

}  // namespace

bool IsUrl(std::string_view file) {
    if (file.starts_with("mailto:")) {
        return true;
    }
    const std::size_t colon = file.find("://");
    if (colon == std::string_view::npos || colon < 2) {
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(file[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> SplitParameters(std::string_view parameters) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (const char c : parameters) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) {
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            continue;
        }
        current += c;
        inArgument = true;
    }
    if (inArgument) {
        args.push_back(std::move(current));
    }
    return args;
}

intptr_t ShellExecuteA(WindowHandle /*window*/, const char* /*verb*/, std::string_view file,
                       std::string_view parameters, const char* directory, int /*showMode*/) {
    if (file.empty()) {
        return kSeFileNotFound;
    }
    if (IsUrl(file)) {
        return OpenWithDesktop(std::string(file), directory);
    }
    const std::string path = MapWindowsPath(file);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        std::error_code ec;
        const bool folderThere =
            !path.empty() &&
            std::filesystem::is_directory(std::filesystem::path(path).parent_path(), ec);
        return folderThere ? kSeFileNotFound : kSePathNotFound;
    }
    // A program is what may be executed; anything else (a folder, a text file) is a
    // document for the desktop's opener.
    if (S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
        return Spawn(path, SplitParameters(parameters), false, directory);
    }
    return OpenWithDesktop(path, directory);
}

}  // namespace lumidex::platform
