// The ".klv" address hosts of channel-list URLs: the label before ".klv" is base32 (RFC 4648
// alphabet, no fill) of consecutive 6-byte server records, each an IPv4 address in network
// order and a port least significant byte first.
#pragma once

#include <string_view>
#include <vector>

#include "service/ServerRecord.h"

namespace lumidex {

// Decodes a label into its records. Letters of either case count; any other byte outside the
// alphabet is skipped but still counts towards the length that sets the number of bytes
// (5 * length / 8). Bits that do not complete a byte are dropped, and a label longer than the
// decoding buffer yields only the records that fit in it (kMaxLabelRecords).
std::vector<ServerRecord> DecodeAddressLabel(std::string_view label);

}  // namespace lumidex
