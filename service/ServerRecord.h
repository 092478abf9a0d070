// A trackers' or channel server's address as the channel list names it: an IPv4 address kept
// as its four wire bytes (a.b.c.d) and a port in host order.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lumidex {

struct Ipv4Address {
    std::array<std::uint8_t, 4> bytes{};  // a.b.c.d, network order

    // The four bytes read as a little-endian integer: the last number of the dotted form is
    // the most significant. This is the order server lists keep, and the number the probe's
    // findings lines print (as a signed value).
    std::uint32_t LittleEndianValue() const {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    static Ipv4Address FromLittleEndianValue(std::uint32_t value) {
        return {{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
    }
    // "a.b.c.d"
    std::string Dotted() const {
        return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    }

    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

struct ServerRecord {
    Ipv4Address address;
    std::uint16_t port = 0;

    friend bool operator==(const ServerRecord&, const ServerRecord&) = default;
};

}  // namespace lumidex
