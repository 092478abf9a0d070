#include "startup/ClientChecks.h"

#include "platform/TextCodec.h"
#include "platform/WinePaths.h"

namespace lumidex {

std::vector<Problem> PrefixProblems(const PrefixChoice& prefix) {
    std::vector<Problem> problems;
    if (!prefix.ClientFound()) {
        std::vector<std::string> looked;
        for (const std::string& place : prefix.looked) {
            looked.push_back(platform::ValidUtf8(place));
        }
        std::string passedOver;
        for (const SkippedPlace& skipped : prefix.skipped) {
            passedOver += (passedOver.empty() ? "" : "; ") + platform::ValidUtf8(skipped.path) +
                          ": " + platform::ValidUtf8(skipped.reason);
        }
        problems.push_back(MakeProblem(ProblemCode::ClientPrefixNotFound, std::move(looked),
                                       std::move(passedOver)));
        return problems;
    }
    if (!prefix.others.empty()) {
        std::vector<std::string> targets = {platform::ValidUtf8(prefix.path)};
        for (const std::string& other : prefix.others) {
            targets.push_back(platform::ValidUtf8(other));
        }
        problems.push_back(MakeProblem(ProblemCode::ClientInSeveralPrefixes, std::move(targets),
                                       "used " + platform::ValidUtf8(prefix.path)));
    }
    return problems;
}

platform::ClientProcess ProbeClient(const PrefixChoice& prefix, const std::string& procRoot) {
    if (!prefix.ClientFound()) {
        return {};
    }
    std::vector<std::string> directories = {prefix.installLocation};
    if (std::string mapped = platform::MapWindowsPathIn(prefix.path, prefix.installLocation);
        !mapped.empty()) {
        directories.push_back(std::move(mapped));
    }
    return platform::FindClientProcess(procRoot, directories);
}

std::vector<Problem> ClientProblems(const PrefixChoice& prefix,
                                    const platform::ClientProcess& client) {
    if (!prefix.ClientFound() || client.running) {
        return {};
    }
    return {
        MakeProblem(ProblemCode::ClientNotRunning, {platform::ValidUtf8(prefix.installLocation)})};
}

}  // namespace lumidex
