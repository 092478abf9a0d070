// The address value the hosts-file check judges mappings with: an IPv4 address (network
// order) and a port. It follows the product's NetAddress and is meant to give way to it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace lumidex::service {

struct HostsAddress {
    std::uint32_t address = 0;  // network order, as inet_addr gives it
    std::uint16_t port = 0;

    // "host[:port]" without any name look-up: the host part through inet_addr (so a name, or
    // anything else that is not a dotted address, becomes 255.255.255.255); the port is the
    // decimal number of the text after a colon that is not the first byte.
    static HostsAddress Parse(std::string_view text) {
        HostsAddress out;
        std::string host(text);
        const auto colon = host.find(':');
        if (colon != std::string::npos && colon > 0) {
            // strtol rather than atoi: the same digits, but an overflow saturates.
            out.port =
                static_cast<std::uint16_t>(std::strtol(host.c_str() + colon + 1, nullptr, 10));
            host.resize(colon);
        }
        out.address = ::inet_addr(host.c_str());
        return out;
    }

    std::uint8_t Byte(int index) const {
        return reinterpret_cast<const std::uint8_t*>(&address)[index];
    }
    // First byte neither 0 nor 255, and a port.
    bool IsUsable() const { return Byte(0) != 0 && Byte(0) != 255 && port != 0; }
    // 10, 127 or 172 (any second byte), or 192.168.
    bool IsPrivate() const {
        return Byte(0) == 10 || Byte(0) == 127 || Byte(0) == 172 ||
               (Byte(0) == 192 && Byte(1) == 168);
    }
    // "a.b.c.d:port"
    std::string ToString() const {
        in_addr in{};
        in.s_addr = address;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &in, text, sizeof text);
        return std::string(text) + ":" + std::to_string(port);
    }
};

}  // namespace lumidex::service
