// An IPv4 address with a port, parsed from the "host[:port]" texts that configuration and
// the hosts file hold, and judged for use as a probe target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumidex {

// The address that a text which names no address gets.
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

struct NetAddress {
    // Network byte order: the first dotted number is the first byte in memory. 0 when not set,
    // kNoAddress when a text did not yield an address.
    std::uint32_t address = 0;
    // Host byte order; 0 when not set.
    std::uint16_t port = 0;

    // "host" or "host:port", host a dotted address or (with resolve) a name. The port is the
    // decimal value after the first colon as atoi reads it, cut to 16 bits; a colon in first
    // position makes the whole text the host. A null text leaves 0:0. Never fails.
    void Parse(const char* text, bool resolve);
    void Parse(std::string_view text, bool resolve);

    // "a.b.c.d:port"
    std::string ToString() const;
    // First byte neither 0 nor 255, and a port.
    bool IsUsable() const;
    // First byte 127, 10 or 172 (any second byte), or 192.168.
    bool IsPrivate() const;

private:
    std::uint8_t Byte(int index) const;
};

}  // namespace lumidex
