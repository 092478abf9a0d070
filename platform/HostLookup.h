// The host's own name and name-to-address look-up (IPv4 only), as the socket library's
// gethostname and gethostbyname give them, but safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumidex::platform {

// gethostname(); nullopt when it fails.
std::optional<std::string> GetHostName();

// The IPv4 addresses of name (a host name or a dotted address), each in network byte order
// (first dotted number first in memory), in the resolver's order without repeats. Empty when
// the look-up fails or finds no IPv4 address.
std::vector<std::uint32_t> GetHostByName(std::string_view name);

// The first of them, or 0 when there is none: where one address is all a caller needs.
std::uint32_t LookupHostIPv4(std::string_view name);

// "a.b.c.d" of an address in network byte order.
std::string DottedAddress(std::uint32_t networkOrder);

}  // namespace lumidex::platform
