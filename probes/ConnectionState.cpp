#include "probes/ConnectionState.h"

#include "platform/ConnectionStandIns.h"

namespace lumidex {

bool IsDialUpConnected(std::span<const platform::NetInterface> interfaces) {
    const auto connections = platform::EnumRasConnections(interfaces);
    // Room for one connection was all the query ever had: only the first one is asked about.
    return !connections.empty() && connections.front().state == platform::kRasConnected;
}

bool IsDialUpConnected() {
    return IsDialUpConnected(platform::ListNetInterfaces());
}

std::string DiallingConnection(std::span<const platform::NetInterface> interfaces) {
    const auto connections = platform::EnumRasConnections(interfaces);
    if (connections.empty() || connections.front().state == platform::kRasConnected) {
        return {};
    }
    return connections.front().name;
}

std::string DiallingConnection() {
    return DiallingConnection(platform::ListNetInterfaces());
}

std::int32_t GetLocalConnectionState(std::span<const platform::NetInterface> interfaces) {
    if (IsDialUpConnected(interfaces)) {
        return kDialUpConnected;
    }
    return platform::InternetConnectedState(interfaces) ? kNetworkConnected : kNotConnected;
}

std::int32_t GetLocalConnectionState() {
    return GetLocalConnectionState(platform::ListNetInterfaces());
}

}  // namespace lumidex
