#include "platform/IcmpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace lumidex::platform {
namespace {

UniqueFd OpenRaw() {
    return UniqueFd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
}

// Binding to port 0 makes the kernel choose a free identifier now, so it can be read back
// before the first request instead of after it.
IcmpSocket OpenDatagram() {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd) {
        return {};
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return {};
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return {};
    }
    // The kernel copies the port's two bytes, as stored, into the identifier field.
    std::uint8_t bytes[2];
    std::memcpy(bytes, &bound.sin_port, sizeof bytes);
    const auto identifier = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    return {std::move(fd), IcmpSocketKind::Datagram, identifier};
}

}  // namespace

IcmpSocket OpenIcmpSocket(IcmpSocketPolicy policy) {
    if (policy != IcmpSocketPolicy::DatagramOnly) {
        if (UniqueFd fd = OpenRaw()) {
            return {std::move(fd), IcmpSocketKind::Raw, 0};
        }
    }
    if (policy != IcmpSocketPolicy::RawOnly) {
        return OpenDatagram();
    }
    return {};
}

}  // namespace lumidex::platform
