#include "net/NetAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/HostLookup.h"

namespace lumidex {

void NetAddress::Parse(const char* text, bool resolve) {
    if (text == nullptr) {
        address = 0;
        port = 0;
        return;
    }
    Parse(std::string_view(text), resolve);
}

void NetAddress::Parse(std::string_view text, bool resolve) {
    address = 0;
    port = 0;
    // The C functions below stop at a NUL, as they did on the text this came from.
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    std::string host(text);
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && colon > 0) {
        host = std::string(text.substr(0, colon));
        const std::string portText(text.substr(colon + 1));
        // atoi is strtol cut to int; spelt out so that an out-of-range number is defined.
        const long value = std::strtol(portText.c_str(), nullptr, 10);
        port = static_cast<std::uint16_t>(static_cast<int>(value));
    }
    address = ::inet_addr(host.c_str());
    if (address != kNoAddress || !resolve) {
        return;
    }
    const auto found = platform::GetHostByName(host);
    if (!found.empty()) {
        address = found.front();
    }
}

std::string NetAddress::ToString() const {
    char text[32];
    std::snprintf(text, sizeof text, "%s:%d", platform::DottedAddress(address).c_str(), port);
    return text;
}

std::uint8_t NetAddress::Byte(int index) const {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return bytes[index];
}

bool NetAddress::IsUsable() const {
    return Byte(0) != 0 && Byte(0) != 255 && port != 0;
}

bool NetAddress::IsPrivate() const {
    const std::uint8_t first = Byte(0);
    return first == 127 || first == 10 || first == 172 || (first == 192 && Byte(1) == 168);
}

}  // namespace lumidex
