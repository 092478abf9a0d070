#include "platform/NetworkParams.h"

#include <arpa/inet.h>

#include <algorithm>

#include "platform/BoundedFile.h"
#include "platform/HostLookup.h"
#include "platform/NetLimits.h"

namespace lumidex::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr const char* kStubResolvers[] = {"127.0.0.53", "127.0.0.54"};

// Splits one line into blank-separated words.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (true) {
        const std::size_t start = line.find_first_not_of(kBlanks);
        if (start == std::string_view::npos) {
            return words;
        }
        line.remove_prefix(start);
        const std::size_t end = std::min(line.find_first_of(kBlanks), line.size());
        words.push_back(line.substr(0, end));
        line.remove_prefix(end);
    }
}

bool IsIpv4(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    return ::inet_pton(AF_INET, copy.c_str(), &address) == 1;
}

bool IsStubResolver(const std::string& server) {
    return std::any_of(std::begin(kStubResolvers), std::end(kStubResolvers),
                       [&](const char* stub) { return server == stub; });
}

ResolverConfig ReadResolverFile(const std::filesystem::path& path) {
    const auto text = ReadBoundedFile(path, kMaxResolverFileBytes);
    return text ? ParseResolverConfig(*text) : ResolverConfig{};
}

}  // namespace

ResolverConfig ParseResolverConfig(std::string_view text) {
    ResolverConfig config;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::vector<std::string_view> words = Words(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (words.empty() || words[0].front() == '#' || words[0].front() == ';') {
            continue;
        }
        if (words[0] == "domain" || words[0] == "search") {
            config.domain = words.size() > 1 ? std::string(words[1]) : std::string();
        } else if (words[0] == "nameserver" && words.size() > 1 && IsIpv4(words[1])) {
            config.nameservers.emplace_back(words[1]);
        }
    }
    return config;
}

NetworkParams GetNetworkParams(const NetworkParamsSource& source) {
    NetworkParams params;
    if (source.hostName) {
        params.hostName = source.hostName();
    } else if (auto name = GetHostName()) {
        params.hostName = std::move(*name);
    }
    ResolverConfig config = ReadResolverFile(source.root / "etc/resolv.conf");
    params.domainName = std::move(config.domain);
    if (!config.nameservers.empty() &&
        std::all_of(config.nameservers.begin(), config.nameservers.end(), IsStubResolver)) {
        config.nameservers =
            ReadResolverFile(source.root / "run/systemd/resolve/resolv.conf").nameservers;
    }
    params.dnsServers = std::move(config.nameservers);
    params.dnsEnabled = params.dnsServers.empty() ? 0 : 1;
    return params;
}

}  // namespace lumidex::platform
