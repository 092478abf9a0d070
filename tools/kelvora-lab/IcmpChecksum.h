// The lab's own ICMP checksum (RFC 1071), kept apart from the product's so that a fault in
// one is not mirrored by the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumidex::lab {

// The one's complement of the one's complement sum of the big-endian 16-bit words, to be
// stored high byte first.
inline std::uint16_t IcmpChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (bytes.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(bytes.back() << 8);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace lumidex::lab
