#include "tools/kelvora-lab/ProbeAnswers.h"

#include "platform/ByteReader.h"

namespace lumidex::lab {

using platform::ByteReader;

bool ParseProbeRequest(std::span<const std::uint8_t> datagram, ProbeRequest& out,
                       std::string& reason) {
    if (datagram.size() != kProbeRequestSize) {
        reason = "size " + std::to_string(datagram.size()) + ", expected 12";
        return false;
    }
    ByteReader reader(datagram);
    const std::uint16_t length = reader.U16Le();
    const std::uint8_t signature = reader.U8();
    const std::uint8_t reserved1 = reader.U8();
    const std::uint8_t reserved2 = reader.U8();
    const std::uint8_t type = reader.U8();
    ProbeRequest request;
    reader.Bytes(request.address, 4);
    request.port = reader.U16Le();
    if (!reader.Ok()) {
        reason = "truncated";
        return false;
    }
    if (length != kProbeRequestSize) {
        reason = "length field " + std::to_string(length) + ", expected 12";
        return false;
    }
    if (signature != kProbeSignature) {
        reason = "signature " + std::to_string(signature) + ", expected 67";
        return false;
    }
    if (reserved1 != 0 || reserved2 != 0) {
        reason = "reserved bytes not zero";
        return false;
    }
    if (type != kProbeRequestType) {
        reason = "type " + std::to_string(type) + ", expected 7";
        return false;
    }
    out = request;
    return true;
}

std::vector<std::uint8_t> BuildProbeReply(const ProbeRequest& request, ReplyKind kind) {
    constexpr std::uint16_t kReplySize = 16;
    // A length field of 15 fits none of 16, 16 - 4 and 16 - 6: malformed for the receiver.
    const std::uint16_t length = kind == ReplyKind::Malformed ? 15 : kReplySize;
    const std::uint8_t type = kind == ReplyKind::WrongType ? 9 : kProbeReplyType;
    // Filled in place in a buffer of its final size: growing a vector by insert here trips
    // GCC 12's -Warray-bounds at -O3 although every index is inside the buffer.
    std::vector<std::uint8_t> reply(kReplySize, 0);
    reply[0] = static_cast<std::uint8_t>(length & 0xFF);
    reply[1] = static_cast<std::uint8_t>(length >> 8);
    reply[2] = kProbeSignature;
    reply[5] = type;
    for (std::size_t i = 0; i < 4; ++i) {
        reply[6 + i] = request.address[i];
    }
    reply[10] = static_cast<std::uint8_t>(request.port & 0xFF);
    reply[11] = static_cast<std::uint8_t>(request.port >> 8);
    return reply;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0x0F]);
    }
    return out;
}

}  // namespace lumidex::lab
