#include "startup/ClientChecks.h"

#include "platform/HiveText.h"
#include "platform/WinePaths.h"

namespace lumidex {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that starts none.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

}  // namespace

std::string OutputText(std::string_view text) {
    if (platform::hivetext::IsValidUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
        if (length != 0 && at + length <= text.size() &&
            platform::hivetext::IsValidUtf8(text.substr(at, length))) {
            out += text.substr(at, length);
            at += length;
        } else {
            out += kReplacement;
            ++at;
        }
    }
    return out;
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
