#include "startup/ClientChecks.h"

#include "platform/TextCodec.h"
#include "platform/WinePaths.h"

namespace lumidex {

std::string OutputText(std::string_view text) {
    return platform::ValidUtf8(text);
}

std::vector<Problem> PrefixProblems(const PrefixChoice& prefix) {
    std::vector<Problem> problems;
    if (!prefix.ClientFound()) {
        std::vector<std::string> looked;
        for (const std::string& place : prefix.looked) {
            looked.push_back(OutputText(place));
        }
        std::string passedOver;
        for (const SkippedPlace& skipped : prefix.skipped) {
            passedOver += (passedOver.empty() ? "" : "; ") + OutputText(skipped.path) + ": " +
                          OutputText(skipped.reason);
        }
        problems.push_back(MakeProblem(ProblemCode::ClientPrefixNotFound, std::move(looked),
                                       std::move(passedOver)));
        return problems;
    }
    if (!prefix.others.empty()) {
        std::vector<std::string> targets = {OutputText(prefix.path)};
        for (const std::string& other : prefix.others) {
            targets.push_back(OutputText(other));
        }
        problems.push_back(MakeProblem(ProblemCode::ClientInSeveralPrefixes, std::move(targets),
                                       "used " + OutputText(prefix.path)));
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
    return {MakeProblem(ProblemCode::ClientNotRunning, {OutputText(prefix.installLocation)})};
}

}  // namespace lumidex
