#include "platform/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace lumidex::platform {
namespace {

// Host names are at most 255 bytes, plus the terminator.
constexpr std::size_t kHostNameBytes = 256;

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

std::optional<std::string> GetHostName() {
    char buffer[kHostNameBytes] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return std::nullopt;
    }
    return std::string(buffer);
}

std::vector<std::uint32_t> GetHostByName(std::string_view name) {
    std::vector<std::uint32_t> addresses;
    const std::string host(name);
    if (host.empty() || host.find('\0') != std::string::npos) {
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One socket type, or every address comes back once per type.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) {
        return addresses;
    }
    const std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
            entry->ai_addrlen < sizeof(sockaddr_in)) {
            continue;
        }
        sockaddr_in address{};
        std::copy_n(reinterpret_cast<const std::uint8_t*>(entry->ai_addr), sizeof address,
                    reinterpret_cast<std::uint8_t*>(&address));
        const std::uint32_t value = address.sin_addr.s_addr;
        if (std::find(addresses.begin(), addresses.end(), value) == addresses.end()) {
            addresses.push_back(value);
        }
    }
    return addresses;
}

std::string DottedAddress(std::uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

std::uint32_t LookupHostIPv4(std::string_view name) {
    const std::vector<std::uint32_t> addresses = GetHostByName(name);
    return addresses.empty() ? 0 : addresses.front();
}

}  // namespace lumidex::platform
