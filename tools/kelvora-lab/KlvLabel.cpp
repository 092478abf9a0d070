#include "tools/kelvora-lab/KlvLabel.h"

#include <arpa/inet.h>

#include <cstring>

namespace lumidex::lab {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

}  // namespace

std::string Base32Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() * 8 + 4) / 5);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const std::uint8_t byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            out.push_back(kAlphabet[(buffer >> bits) & 0x1F]);
        }
        buffer &= (1u << bits) - 1;
    }
    if (bits > 0) {
        out.push_back(kAlphabet[(buffer << (5 - bits)) & 0x1F]);
    }
    return out;
}

std::vector<std::uint8_t> RecordBytes(std::span<const ServerRecord> records) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(records.size() * 6);
    for (const ServerRecord& record : records) {
        bytes.insert(bytes.end(), record.address, record.address + 4);
        bytes.push_back(static_cast<std::uint8_t>(record.port & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(record.port >> 8));
    }
    return bytes;
}

std::string EncodeLabel(std::span<const ServerRecord> records) {
    return Base32Encode(RecordBytes(records));
}

bool ParseRecordAddress(const std::string& dotted, std::uint16_t port, ServerRecord& out) {
    in_addr parsed{};
    // inet_pton takes exactly the four-part decimal form (no octal, no short forms).
    if (inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) {
        return false;
    }
    std::memcpy(out.address, &parsed.s_addr, sizeof out.address);
    out.port = port;
    return true;
}

}  // namespace lumidex::lab
