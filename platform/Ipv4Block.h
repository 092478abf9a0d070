// IPv4 addresses as numbers in host order, and the address blocks (a base and a prefix
// length) that ranges like RFC 1918's are written as.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumidex::platform {

// "a.b.c.d" in host order; none for anything else.
inline std::optional<std::uint32_t> ParseIpv4(std::string_view dotted) {
    const std::string text(dotted);
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    return ntohl(parsed.s_addr);
}

constexpr std::uint32_t Quad(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

struct Ipv4Block {
    std::uint32_t base;  // host order
    int prefix;

    constexpr bool Contains(std::uint32_t address) const {
        const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
        return (address & mask) == (base & mask);
    }
};

}  // namespace lumidex::platform
