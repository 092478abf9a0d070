#include "net/IcmpReply.h"

#include <algorithm>

#include "platform/ByteReader.h"

namespace lumidex {
namespace {

constexpr std::uint8_t kIpVersion4 = 4;
constexpr std::size_t kMinIpHeaderBytes = 20;
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::uint8_t kTypeEchoReply = 0;
// type, code, checksum, identifier, sequence (RFC 792)
constexpr std::size_t kIcmpHeaderBytes = 8;

}  // namespace

const char* DescribeIcmpReply(IcmpReplyVerdict verdict) {
    switch (verdict) {
        case IcmpReplyVerdict::Reply:
            return "echo reply";
        case IcmpReplyVerdict::TooShort:
            return "datagram too short for an ICMP header";
        case IcmpReplyVerdict::NotIpv4:
            return "not an IPv4 packet";
        case IcmpReplyVerdict::BadHeaderLength:
            return "IP header length out of range";
        case IcmpReplyVerdict::NotIcmp:
            return "not an ICMP packet";
        case IcmpReplyVerdict::NotEchoReply:
            return "not an echo reply";
        case IcmpReplyVerdict::WrongSource:
            return "from another host";
        case IcmpReplyVerdict::WrongIdentifier:
            return "another identifier";
        case IcmpReplyVerdict::WrongSequence:
            return "another request's answer";
    }
    return "unknown";
}

// RFC 791 3.1: the header length is the low nibble of the first byte, in 32-bit words, and
// may include options; the ICMP message starts behind it.
IcmpReplyVerdict CheckEchoReply(std::span<const std::uint8_t> datagram, std::uint32_t from,
                                const EchoExpectation& expected) {
    platform::ByteReader reader(datagram);
    if (expected.ipHeader) {
        const std::uint8_t versionAndLength = reader.U8();
        reader.Skip(8);
        const std::uint8_t protocol = reader.U8();
        if (!reader.Ok()) {
            return IcmpReplyVerdict::TooShort;
        }
        if ((versionAndLength >> 4) != kIpVersion4) {
            return IcmpReplyVerdict::NotIpv4;
        }
        const std::size_t headerBytes = std::size_t{versionAndLength & 0x0Fu} * 4;
        if (headerBytes < kMinIpHeaderBytes || headerBytes > datagram.size()) {
            return IcmpReplyVerdict::BadHeaderLength;
        }
        if (protocol != kProtocolIcmp) {
            return IcmpReplyVerdict::NotIcmp;
        }
        reader.Seek(headerBytes);
    }
    if (reader.Remaining() < kIcmpHeaderBytes) {
        return IcmpReplyVerdict::TooShort;
    }
    const std::uint8_t type = reader.U8();
    const std::uint8_t code = reader.U8();
    reader.Skip(2);
    const std::uint16_t identifier = reader.U16Le();
    const std::uint16_t sequence = reader.U16Le();
    if (!reader.Ok()) {
        return IcmpReplyVerdict::TooShort;
    }
    if (type != kTypeEchoReply || code != 0) {
        return IcmpReplyVerdict::NotEchoReply;
    }
    if (from != expected.source) {
        return IcmpReplyVerdict::WrongSource;
    }
    if (identifier != expected.identifier) {
        return IcmpReplyVerdict::WrongIdentifier;
    }
    if (!expected.sequences.empty() &&
        std::find(expected.sequences.begin(), expected.sequences.end(), sequence) ==
            expected.sequences.end()) {
        return IcmpReplyVerdict::WrongSequence;
    }
    return IcmpReplyVerdict::Reply;
}

std::optional<std::uint16_t> EchoReplySequence(std::span<const std::uint8_t> datagram,
                                               bool ipHeader) {
    platform::ByteReader reader(datagram);
    if (ipHeader) {
        reader.Skip(static_cast<std::size_t>(reader.U8() & 0x0F) * 4 - 1);
    }
    reader.Skip(6);  // type, code, checksum, identifier
    const std::uint16_t sequence = reader.U16Le();
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return sequence;
}

}  // namespace lumidex
