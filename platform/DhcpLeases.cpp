#include "platform/DhcpLeases.h"

#include <arpa/inet.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "platform/BoundedFile.h"
#include "platform/NetLimits.h"

namespace lumidex::platform {
namespace {

std::uint32_t Ipv4(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    return ::inet_pton(AF_INET, copy.c_str(), &address) == 1 ? address.s_addr : 0;
}

std::string_view Trim(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

// Cuts the next piece ending at delimiter off text.
std::string_view NextPiece(std::string_view& text, char delimiter) {
    const std::size_t end = std::min(text.find(delimiter), text.size());
    const std::string_view piece = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    return piece;
}

std::vector<std::string_view> Words(std::string_view statement) {
    std::vector<std::string_view> words;
    while (!(statement = Trim(statement)).empty()) {
        const std::size_t end = std::min(statement.find_first_of(" \t\r\n"), statement.size());
        std::string_view word = statement.substr(0, end);
        if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
            word = word.substr(1, word.size() - 2);
        }
        words.push_back(word);
        statement.remove_prefix(end);
    }
    return words;
}

std::optional<DhcpLease> ReadKeyValueLease(const std::filesystem::path& path) {
    const auto text = ReadBoundedFile(path, kMaxLeaseFileBytes);
    return text ? ParseKeyValueLease(*text) : std::nullopt;
}

std::optional<DhcpLease> ReadDhclientLeases(const std::filesystem::path& path,
                                            std::string_view name) {
    const auto text = ReadBoundedFile(path, kMaxLeaseFileBytes);
    return text ? ParseDhclientLeases(*text, name) : std::nullopt;
}

bool IsCurrent(const std::optional<DhcpLease>& lease, const NetInterface& nic) {
    return lease && std::find(nic.ipv4.begin(), nic.ipv4.end(), lease->address) != nic.ipv4.end();
}

// NetworkManager names its lease files "<client>-<connection uuid>-<interface>.lease".
std::optional<DhcpLease> FindNetworkManagerLease(const std::filesystem::path& dir,
                                                 const NetInterface& nic) {
    const std::string suffix = "-" + nic.name + ".lease";
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    std::size_t seen = 0;
    for (; !error && it != std::filesystem::directory_iterator() && seen < kMaxLeaseDirEntries;
         it.increment(error), ++seen) {
        const std::string file = it->path().filename().string();
        if (file.size() <= suffix.size() || !file.ends_with(suffix)) {
            continue;
        }
        const auto lease = file.starts_with("dhclient-") ? ReadDhclientLeases(it->path(), nic.name)
                                                         : ReadKeyValueLease(it->path());
        if (IsCurrent(lease, nic)) {
            return lease;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<DhcpLease> ParseKeyValueLease(std::string_view text) {
    DhcpLease lease;
    while (!text.empty()) {
        const std::string_view line = Trim(NextPiece(text, '\n'));
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = Trim(line.substr(equals + 1));
        if (key == "ADDRESS") {
            lease.address = Ipv4(value);
        } else if (key == "SERVER_ADDRESS") {
            lease.server = Ipv4(value);
        }
    }
    return lease.server != 0 ? std::optional(lease) : std::nullopt;
}

std::optional<DhcpLease> ParseDhclientLeases(std::string_view text,
                                             std::string_view interfaceName) {
    enum class State {
        Outside,  // waiting for "lease {"
        InLease,  // reading statements until "}"
    };
    State state = State::Outside;
    std::optional<DhcpLease> found;
    DhcpLease current;
    bool forThisInterface = true;
    while (!text.empty()) {
        // Statements end in ";", blocks open with "{" and close with "}": cut at whichever
        // comes first so that a block may sit on one line.
        const std::size_t end = std::min(text.find_first_of(";{}"), text.size());
        const char delimiter = end < text.size() ? text[end] : ';';
        const std::vector<std::string_view> words = Words(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (state == State::Outside) {
            if (delimiter == '{' && words.size() == 1 && words[0] == "lease") {
                state = State::InLease;
                current = {};
                forThisInterface = true;
            }
            continue;
        }
        if (delimiter == '}') {
            if (forThisInterface && current.server != 0) {
                found = current;
            }
            state = State::Outside;
            continue;
        }
        if (words.size() == 2 && words[0] == "interface") {
            forThisInterface = words[1] == interfaceName;
        } else if (words.size() == 2 && words[0] == "fixed-address") {
            current.address = Ipv4(words[1]);
        } else if (words.size() == 3 && words[0] == "option" &&
                   words[1] == "dhcp-server-identifier") {
            current.server = Ipv4(words[2]);
        }
    }
    return found;
}

std::optional<DhcpLease> FindDhcpLease(const std::filesystem::path& root, const NetInterface& nic) {
    if (auto lease =
            ReadKeyValueLease(root / "run/systemd/netif/leases" / std::to_string(nic.index))) {
        return lease;
    }
    if (auto lease = FindNetworkManagerLease(root / "var/lib/NetworkManager", nic)) {
        return lease;
    }
    for (const std::string& file :
         {"dhclient." + nic.name + ".leases", std::string("dhclient.leases")}) {
        auto lease = ReadDhclientLeases(root / "var/lib/dhcp" / file, nic.name);
        if (IsCurrent(lease, nic)) {
            return lease;
        }
    }
    return std::nullopt;
}

}  // namespace lumidex::platform
