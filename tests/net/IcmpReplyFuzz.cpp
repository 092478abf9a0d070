#include "IcmpReplyFuzz.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <span>

#include "net/IcmpReply.h"

namespace {

using lumidex::CheckEchoReply;
using lumidex::EchoExpectation;
using lumidex::IcmpReplyVerdict;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzIcmpReply: %s\n", what);
    std::abort();
}

void CheckAccepted(std::span<const std::uint8_t> bytes, const EchoExpectation& expected) {
    const std::size_t at = expected.ipHeader ? std::size_t{bytes[0] & 0x0Fu} * 4 : 0;
    if (bytes.size() < at + 8) {
        Broken("accepted a datagram shorter than its headers");
    }
    if (bytes[at] != 0 || bytes[at + 1] != 0) {
        Broken("accepted another message than an echo reply");
    }
    if ((bytes[at + 4] | (bytes[at + 5] << 8)) != expected.identifier) {
        Broken("accepted another identifier");
    }
    if (CheckEchoReply(bytes, ::inet_addr("127.0.0.2"), expected) != IcmpReplyVerdict::Reply) {
        return;
    }
    Broken("accepted a datagram from another host");
}

}  // namespace

int FuzzIcmpReply(const uint8_t* data, size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::uint32_t source = ::inet_addr("127.0.0.1");
    for (bool ipHeader : {true, false}) {
        const EchoExpectation expected{ipHeader, source, kFuzzIdentifier, {}};
        const IcmpReplyVerdict verdict = CheckEchoReply(bytes, source, expected);
        if (DescribeIcmpReply(verdict) == nullptr) {
            Broken("a verdict without a description");
        }
        if (verdict != IcmpReplyVerdict::Reply) {
            continue;
        }
        CheckAccepted(bytes, expected);
        // Only the headers decide: the echoed payload may not change the verdict.
        const std::size_t headers = (ipHeader ? std::size_t{data[0] & 0x0Fu} * 4 : 0) + 8;
        if (CheckEchoReply(bytes.first(headers), source, expected) != verdict) {
            Broken("the payload changed the verdict");
        }
    }
    return 0;
}
