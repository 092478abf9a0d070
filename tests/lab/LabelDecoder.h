// Test-side reading of ".klv" labels, written apart from the simulator's encoder so that a
// fault in one is not mirrored by the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumidex::labtest {

struct DecodedServer {
    std::string address;  // dotted
    std::uint16_t port = 0;
};

// Decodes the base32 label into 6-byte records; characters outside the alphabet are skipped.
std::vector<DecodedServer> DecodeLabel(const std::string& label);

// Every label of "klv://LABEL.klv/..." URLs in a channel list, in document order.
std::vector<std::string> LabelsIn(const std::string& channelListXml);

}  // namespace lumidex::labtest
