#include "probes/FileAssociation.h"

#include "probes/DefaultValue.h"

namespace lumidex {

std::string FileAssociation::GetAssociatedProgram(std::string_view extension) const {
    std::string identifier;
    if (ReadDefaultValue(platform::RootKey::ClassesRoot, extension, identifier) != 0 ||
        identifier.empty()) {
        return {};
    }
    std::string command;
    if (ReadDefaultValue(platform::RootKey::ClassesRoot, identifier + kOpenCommandKey, command) !=
        0) {
        return {};
    }
    return command;
}

bool FileAssociation::IsAssociatedWith(std::string_view extension, std::string_view program) const {
    if (extension.empty() || program.empty()) {
        return false;
    }
    const std::string command = GetAssociatedProgram(extension);
    return !command.empty() && command.find(program) != std::string::npos;
}

}  // namespace lumidex
