#include "platform/RouteSource.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "platform/UniqueFd.h"

namespace lumidex::platform {

std::optional<Ipv4Endpoint> RouteSource(const Ipv4Endpoint& destination) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return std::nullopt;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destination.port == 0 ? 9 : destination.port);
    std::memcpy(&to.sin_addr.s_addr, destination.address.data(), 4);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        return std::nullopt;
    }
    sockaddr_in own{};
    socklen_t length = sizeof own;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&own), &length) != 0) {
        return std::nullopt;
    }
    Ipv4Endpoint source;
    std::memcpy(source.address.data(), &own.sin_addr.s_addr, 4);
    source.port = ntohs(own.sin_port);
    return source;
}

}  // namespace lumidex::platform
