#include "probes/PortMappingTrial.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <random>

#include "platform/BoundedFile.h"
#include "platform/DefaultRoutes.h"
#include "platform/NetLimits.h"

namespace lumidex {

std::string DefaultGateway() {
    const auto table = platform::ReadBoundedFile("/proc/net/route", platform::kMaxRouteFileBytes);
    if (!table) {
        return {};
    }
    const std::vector<platform::DefaultRoute> routes = platform::ParseDefaultRoutes(*table);
    const auto best =
        std::min_element(routes.begin(), routes.end(),
                         [](const auto& a, const auto& b) { return a.metric < b.metric; });
    if (best == routes.end()) {
        return {};
    }
    in_addr address{};
    address.s_addr = best->gateway;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::uint16_t RandomTrialPort() {
    std::random_device seed;
    std::uniform_int_distribution<int> pick(49152, 65535);
    return static_cast<std::uint16_t>(pick(seed));
}

PortMappingTrial TryUpnpPortMapping(const std::string& gateway, std::uint16_t port,
                                    const UpnpFindOptions& options) {
    PortMappingTrial trial;
    trial.port = port;
    UpnpGateway igd;
    const UpnpFound found = igd.Find(gateway, options);
    if (found != UpnpFound::Igd) {
        trial.error = found == UpnpFound::NoAnswer
                          ? "no UPnP gateway device answered"
                          : "a UPnP device answered, but it is no Internet gateway device";
        return trial;
    }
    trial.igdFound = true;
    trial.localAddress = igd.LanAddress();
    (void)igd.ExternalAddress(trial.externalAddress);
    if (trial.localAddress.empty()) {
        trial.error = "the router's connection named no address for this computer";
        return trial;
    }
    const int added =
        igd.AddUdp(port, port, trial.localAddress, kTrialLeaseSeconds, kTrialDescription);
    if (added != 0) {
        trial.error = "adding the mapping failed: " + DescribeUpnpResult(added);
        return trial;
    }
    UpnpGateway::UdpEntry entry;
    const int read = igd.SpecificUdpEntry(port, entry);
    if (read != 0) {
        trial.error = "the mapping could not be read back: " + DescribeUpnpResult(read);
    } else if (entry.client != trial.localAddress || entry.port != port) {
        trial.error = "the router keeps the mapping for " +
                      (entry.client.empty() ? std::string("another address") : entry.client) + ":" +
                      std::to_string(entry.port) + " instead";
    }
    trial.allowed = trial.error.empty();
    if (const int deleted = igd.DeleteUdp(port); deleted != 0) {
        trial.deleteError = DescribeUpnpResult(deleted);
    }
    return trial;
}

}  // namespace lumidex
