// The host-name look-up the checks use where Windows code calls gethostbyname: the first IPv4
// address of a name. getaddrinfo is thread-safe, so many probes may resolve at once.
#pragma once

#include <cstdint>
#include <string>

namespace lumidex::platform {

// The first IPv4 address of name in network byte order, or 0 when the name does not resolve.
std::uint32_t LookupHostIPv4(const std::string& name);

}  // namespace lumidex::platform
