#include "service/ProbeDatagram.h"

#include "platform/ByteReader.h"

namespace lumidex {

std::array<std::uint8_t, kProbeRequestBytes> BuildProbeRequest(const ServerRecord& server) {
    const auto& a = server.address.bytes;
    return {static_cast<std::uint8_t>(kProbeRequestBytes),
            0,
            kProbeSignature,
            0,
            0,
            kProbeRequestType,
            a[0],
            a[1],
            a[2],
            a[3],
            static_cast<std::uint8_t>(server.port & 0xff),
            static_cast<std::uint8_t>(server.port >> 8)};
}

ProbeReplyKind ClassifyProbeReply(std::span<const std::uint8_t> datagram) {
    platform::ByteReader reader(datagram);
    const std::size_t length = reader.U16Le();
    const std::uint8_t signature = reader.U8();
    reader.Skip(2);
    const std::uint8_t type = reader.U8();
    if (!reader.Ok()) {
        return ProbeReplyKind::Malformed;
    }
    const std::size_t size = datagram.size();
    if ((size != length && size != length + 4 && size != length + 6) ||
        signature != kProbeSignature) {
        return ProbeReplyKind::Malformed;
    }
    return type == kProbeReplyType ? ProbeReplyKind::Reply : ProbeReplyKind::NotProbeReply;
}

std::string_view ProbeReplyKindName(ProbeReplyKind kind) {
    switch (kind) {
        case ProbeReplyKind::Malformed:
            return "malformed";
        case ProbeReplyKind::NotProbeReply:
            return "not a probe reply";
        case ProbeReplyKind::Reply:
            return "probe reply";
    }
    return "unknown";
}

}  // namespace lumidex
