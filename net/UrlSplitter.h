// Splits an absolute URL into service type, server, object path and port, the way the Windows
// code this program comes from split the URLs it downloads. Only what such a URL needs is
// accepted: a scheme, "//", an optional user part, a host, an optional port, and the rest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumidex {

enum class UrlService { Unknown, Http, Https, Ftp, Gopher, File };

struct SplitUrl {
    UrlService service = UrlService::Unknown;
    std::string server;        // host as written, without user part and port
    std::string object = "/";  // path, query; "/" when the URL has none; no fragment
    std::uint16_t port = 0;    // the URL's port, or the scheme's usual one (0 if it has none)
};

// False when url is not an absolute URL with a server: no scheme, no "//", an empty host, a
// port that is not a decimal number from 1 to 65535, or a blank or control character.
bool SplitUrlText(std::string_view url, SplitUrl& out);

}  // namespace lumidex
