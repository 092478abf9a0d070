#include "LabelDecoder.h"

#include <cctype>

namespace lumidex::labtest {

std::vector<DecodedServer> DecodeLabel(const std::string& label) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::vector<std::uint8_t> bytes;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : label) {
        const auto at =
            alphabet.find(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (at == std::string::npos) {
            continue;
        }
        buffer = (buffer << 5) | static_cast<unsigned>(at);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(buffer >> bits));
            buffer &= (1u << bits) - 1;
        }
    }
    std::vector<DecodedServer> servers;
    for (std::size_t i = 0; i + 6 <= bytes.size(); i += 6) {
        servers.push_back({std::to_string(bytes[i]) + "." + std::to_string(bytes[i + 1]) + "." +
                               std::to_string(bytes[i + 2]) + "." + std::to_string(bytes[i + 3]),
                           static_cast<std::uint16_t>(bytes[i + 4] | (bytes[i + 5] << 8))});
    }
    return servers;
}

std::vector<std::string> LabelsIn(const std::string& xml) {
    std::vector<std::string> labels;
    const std::string open = "<URL>klv://";
    for (auto at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const auto start = at + open.size();
        const auto end = xml.find(".klv", start);
        if (end == std::string::npos) {
            break;
        }
        labels.push_back(xml.substr(start, end - start));
    }
    return labels;
}

}  // namespace lumidex::labtest
