#include "platform/DefaultRoutes.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <utility>

namespace lumidex::platform {
namespace {

constexpr std::uint32_t kRouteUp = 0x0001;       // RTF_UP
constexpr std::uint32_t kRouteGateway = 0x0002;  // RTF_GATEWAY
constexpr std::size_t kFieldCount = 8;           // up to Mask

enum Field { kIface, kDestination, kGateway, kFlags, kRefCnt, kUse, kMetric, kMask };

std::optional<std::uint32_t> Number(std::string_view text, int base) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (fields.size() < kFieldCount) {
        const std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string_view::npos) {
            break;
        }
        line.remove_prefix(start);
        const std::size_t end = std::min(line.find_first_of(" \t\r"), line.size());
        fields.push_back(line.substr(0, end));
        line.remove_prefix(end);
    }
    return fields;
}

std::optional<DefaultRoute> ParseLine(std::string_view line) {
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < kFieldCount) {
        return std::nullopt;
    }
    const auto destination = Number(fields[kDestination], 16);
    const auto gateway = Number(fields[kGateway], 16);
    const auto flags = Number(fields[kFlags], 16);
    const auto metric = Number(fields[kMetric], 10);
    const auto mask = Number(fields[kMask], 16);
    if (!destination || !gateway || !flags || !metric || !mask) {
        return std::nullopt;
    }
    const bool isDefault = *destination == 0 && *mask == 0;
    const bool viaGateway = (*flags & kRouteUp) != 0 && (*flags & kRouteGateway) != 0;
    if (!isDefault || !viaGateway || *gateway == 0) {
        return std::nullopt;
    }
    return DefaultRoute{std::string(fields[kIface]), *gateway, *metric};
}

}  // namespace

std::vector<DefaultRoute> ParseDefaultRoutes(std::string_view routeTable) {
    std::vector<DefaultRoute> routes;
    bool header = true;
    while (!routeTable.empty()) {
        const std::size_t end = std::min(routeTable.find('\n'), routeTable.size());
        const std::string_view line = routeTable.substr(0, end);
        routeTable.remove_prefix(std::min(end + 1, routeTable.size()));
        if (std::exchange(header, false)) {
            continue;
        }
        if (auto route = ParseLine(line)) {
            routes.push_back(std::move(*route));
        }
    }
    return routes;
}

std::vector<std::uint32_t> GatewaysOf(const std::vector<DefaultRoute>& routes,
                                      std::string_view interfaceName) {
    std::vector<DefaultRoute> mine;
    std::copy_if(routes.begin(), routes.end(), std::back_inserter(mine),
                 [&](const DefaultRoute& route) { return route.interfaceName == interfaceName; });
    std::stable_sort(mine.begin(), mine.end(), [](const DefaultRoute& a, const DefaultRoute& b) {
        return a.metric < b.metric;
    });
    std::vector<std::uint32_t> gateways;
    for (const DefaultRoute& route : mine) {
        if (std::find(gateways.begin(), gateways.end(), route.gateway) == gateways.end()) {
            gateways.push_back(route.gateway);
        }
    }
    return gateways;
}

}  // namespace lumidex::platform
