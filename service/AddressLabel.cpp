#include "service/AddressLabel.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/ByteReader.h"
#include "service/ServiceLimits.h"

namespace lumidex {
namespace {

// The 5-bit value of a base32 character, or -1 for one outside the alphabet.
int Base32Value(char c) {
    if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= '2' && c <= '7') {
        return c - '2' + 26;
    }
    return -1;
}

}  // namespace

std::vector<ServerRecord> DecodeAddressLabel(std::string_view label) {
    // Every byte of the label counts here, also those the decoding skips.
    const std::size_t byteCount = std::min(label.size() * 5 / 8, kLabelBufferBytes);
    std::array<std::uint8_t, kLabelBufferBytes> buffer{};
    std::size_t filled = 0;
    unsigned bits = 0;  // pending bits, most significant first
    int pendingBits = 0;
    for (const char c : label) {
        if (filled == byteCount) {
            break;
        }
        const int value = Base32Value(c);
        if (value < 0) {
            continue;
        }
        bits = (bits << 5 | static_cast<unsigned>(value)) & 0xfff;
        pendingBits += 5;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            buffer[filled++] = static_cast<std::uint8_t>(bits >> pendingBits);
        }
    }
    // Bits left over that do not complete a byte are dropped; the rest stays zero.

    std::vector<ServerRecord> records;
    platform::ByteReader reader(buffer.data(), byteCount - byteCount % kServerRecordBytes);
    while (reader.Remaining() >= kServerRecordBytes) {
        ServerRecord record;
        reader.Bytes(record.address.bytes.data(), record.address.bytes.size());
        record.port = reader.U16Le();
        records.push_back(record);
    }
    return records;
}

}  // namespace lumidex
