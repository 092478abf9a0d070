// The ".klv" address labels of the channel list: a run of 6-byte server records (IPv4 address
// in network order, port least significant byte first) written as base32 (RFC 4648 alphabet,
// upper case, no padding).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumidex::lab {

struct ServerRecord {
    std::uint8_t address[4] = {0, 0, 0, 0};  // a.b.c.d in wire order
    std::uint16_t port = 0;
};

// Base32 of the bytes, no padding; a trailing partial group is filled with zero bits.
std::string Base32Encode(std::span<const std::uint8_t> bytes);

// The 6-byte wire form of the records, in order.
std::vector<std::uint8_t> RecordBytes(std::span<const ServerRecord> records);

// The label (without ".klv") naming the records, first the channel server, then trackers.
std::string EncodeLabel(std::span<const ServerRecord> records);

// "a.b.c.d" to a record with the given port; false for anything but four decimal numbers.
bool ParseRecordAddress(const std::string& dotted, std::uint16_t port, ServerRecord& out);

}  // namespace lumidex::lab
