// Splits the URLs of the channel list and of the channel-list request into their parts, and
// decodes ".klv" address hosts into server records.
//
//   url       = [ scheme "://" ] [ user [ ":" password ] "@" ] host [ ":" port ]
//               [ "/" path ] [ ( "?" | "#" ) query ]
// The scheme is the text before "://" when the first ":" is that of "://", otherwise the text
// between the first ":" and "://". The port is atoi of what follows the host's first ":".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/ServerRecord.h"

namespace lumidex {

struct ServiceUrl {
    // Clears every field, then fills them from text.
    void Split(std::string_view text);

    std::string url;
    std::string scheme;
    std::string user;
    std::string password;
    // For an address host: the dotted form of its first record.
    std::string host;
    bool addressHost = false;
    std::vector<ServerRecord> addresses;
    std::uint16_t port = 0;
    // After the first "/" of what follows the host, up to the query mark.
    std::string path;
    // After the last "/" of the path, when it holds one after its first byte.
    std::string fileName;
    char queryMark = '\0';  // '?', '#' or none
    std::string query;

private:
    // Each step fills its fields and returns the text after its part.
    std::string_view TakeScheme(std::string_view text);
    std::string_view TakeUserInfo(std::string_view rest);
    std::string_view TakePathAndQuery(std::string_view rest);  // returns host and port
    void TakeHostAndPort(std::string_view hostAndPort);
    void DecodeAddressHost();
};

}  // namespace lumidex
