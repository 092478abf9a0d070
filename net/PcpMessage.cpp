#include "net/PcpMessage.h"

#include "platform/ByteReader.h"

namespace lumidex {

PcpAnnounceRequest BuildPcpAnnounce(const std::array<std::uint8_t, 4>& client) {
    PcpAnnounceRequest request{};
    request[0] = kPcpVersion;
    request[1] = kPcpOpcodeAnnounce;
    // Bytes 2-3 reserved, 4-7 lifetime 0. RFC 4291 2.5.5.2: ::ffff:a.b.c.d.
    request[18] = 0xFF;
    request[19] = 0xFF;
    for (std::size_t i = 0; i < client.size(); ++i) {
        request[20 + i] = client[i];
    }
    return request;
}

const char* DescribePcpAnswerError(PcpAnswerError error) {
    switch (error) {
        case PcpAnswerError::None:
            return "an answer";
        case PcpAnswerError::TooShort:
            return "shorter than the header";
        case PcpAnswerError::TooLong:
            return "longer than a message may be";
        case PcpAnswerError::NotMultipleOf4:
            return "length not a multiple of 4";
        case PcpAnswerError::OldVersion:
            return "NAT-PMP answer (version 0)";
        case PcpAnswerError::Version:
            return "unknown version";
        case PcpAnswerError::NotAnswer:
            return "a request, not an answer";
        case PcpAnswerError::Opcode:
            return "answer to another opcode";
    }
    return "unknown";
}

PcpAnswer ParsePcpAnswer(std::span<const std::uint8_t> datagram) {
    PcpAnswer answer;
    if (datagram.size() > kPcpMaxMessageBytes) {
        answer.error = PcpAnswerError::TooLong;
        return answer;
    }
    platform::ByteReader reader(datagram);
    answer.version = reader.U8();
    const std::uint8_t opcodeByte = reader.U8();
    // RFC 6886 3.5: a NAT-PMP answer is version, opcode, a 16-bit result; 4 bytes suffice.
    if (reader.Ok() && answer.version == 0) {
        reader.Skip(1);
        answer.resultCode = reader.U8();
        answer.opcode = opcodeByte;
        answer.error = reader.Ok() ? PcpAnswerError::OldVersion : PcpAnswerError::TooShort;
        return answer;
    }
    if (datagram.size() < kPcpHeaderBytes) {
        answer.error = PcpAnswerError::TooShort;
        return answer;
    }
    if (datagram.size() % 4 != 0) {
        answer.error = PcpAnswerError::NotMultipleOf4;
        return answer;
    }
    if (answer.version != kPcpVersion) {
        answer.error = PcpAnswerError::Version;
        return answer;
    }
    if ((opcodeByte & 0x80) == 0) {
        answer.error = PcpAnswerError::NotAnswer;
        return answer;
    }
    answer.opcode = opcodeByte & 0x7F;
    if (answer.opcode != kPcpOpcodeAnnounce) {
        answer.error = PcpAnswerError::Opcode;
        return answer;
    }
    reader.Skip(1);
    answer.resultCode = reader.U8();
    answer.lifetime = reader.U32Be();
    answer.epoch = reader.U32Be();
    if (!reader.Ok()) {
        answer.error = PcpAnswerError::TooShort;
    }
    return answer;
}

}  // namespace lumidex
