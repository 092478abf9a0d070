// ICMP messages and IPv4 packets as a socket hands them over, for the reply check's tests
// and its fuzz corpus.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lumidex::testing {

// An ICMP message of 45 bytes (echo-sized) with the given type, code and identifier bytes
// (little-endian), sequence 1.
inline std::vector<std::uint8_t> Icmp(std::uint8_t type, std::uint8_t code,
                                      std::uint16_t identifier) {
    std::vector<std::uint8_t> message(45, 0x20);
    message[0] = type;
    message[1] = code;
    message[2] = message[3] = 0;
    message[4] = static_cast<std::uint8_t>(identifier & 0xFF);
    message[5] = static_cast<std::uint8_t>(identifier >> 8);
    message[6] = 1;
    message[7] = 0;
    return message;
}

// message behind an IPv4 header of headerWords 32-bit words (options zero-filled) from source
// (network byte order).
inline std::vector<std::uint8_t> Ipv4(const std::vector<std::uint8_t>& message,
                                      std::uint32_t source, unsigned headerWords = 5) {
    // Sized once and filled in place: growing it by insert trips GCC 12's -Warray-bounds at -O3.
    const std::size_t headerBytes = headerWords * 4;
    std::vector<std::uint8_t> packet(headerBytes + message.size(), 0);
    packet[0] = static_cast<std::uint8_t>(0x40 | headerWords);
    packet[8] = 64;  // TTL
    packet[9] = 1;   // ICMP
    std::memcpy(&packet[12], &source, 4);
    std::copy(message.begin(), message.end(),
              packet.begin() + static_cast<std::ptrdiff_t>(headerBytes));
    return packet;
}

// The first size bytes.
inline std::vector<std::uint8_t> Datagram(const std::vector<std::uint8_t>& bytes,
                                          std::size_t size) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)};
}

}  // namespace lumidex::testing
