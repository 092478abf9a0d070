#include "net/StunMessage.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <cstring>
#include <random>

#include "platform/ByteReader.h"

namespace lumidex::stun {
namespace {

// RFC 5389 6 and 18.1: Binding, in the request, success and error classes.
constexpr std::uint16_t kBindingRequest = 0x0001;
constexpr std::uint16_t kBindingSuccess = 0x0101;
constexpr std::uint16_t kBindingError = 0x0111;

// RFC 5389 18.2, RFC 5780 7, RFC 3489 11.2.
constexpr std::uint16_t kMappedAddress = 0x0001;
constexpr std::uint16_t kChangeRequest = 0x0003;
constexpr std::uint16_t kSourceAddress = 0x0004;
constexpr std::uint16_t kChangedAddress = 0x0005;
constexpr std::uint16_t kErrorCode = 0x0009;
constexpr std::uint16_t kXorMappedAddress = 0x0020;
constexpr std::uint16_t kResponseOrigin = 0x802B;
constexpr std::uint16_t kOtherAddress = 0x802C;

// RFC 5780 7.2
constexpr std::uint32_t kChangeIpFlag = 0x4;
constexpr std::uint32_t kChangePortFlag = 0x2;

constexpr std::uint8_t kFamilyIpv4 = 0x01;
constexpr std::uint8_t kFamilyIpv6 = 0x02;

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
    PutU16(out, static_cast<std::uint16_t>(value));
}

void PutHeader(std::vector<std::uint8_t>& out, std::uint16_t type, const TransactionId& id) {
    PutU16(out, type);
    PutU16(out, 0);  // set by FinishLength
    PutU32(out, kMagicCookie);
    out.insert(out.end(), id.begin(), id.end());
}

void FinishLength(std::vector<std::uint8_t>& out) {
    const auto length = static_cast<std::uint16_t>(out.size() - kHeaderBytes);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length);
}

// The 16 bytes an IPv6 address is XORed with (RFC 5389 15.2), or the 4 of an IPv4 one.
std::array<std::uint8_t, 16> XorKey(const TransactionId& id) {
    std::array<std::uint8_t, 16> key{};
    key[0] = static_cast<std::uint8_t>(kMagicCookie >> 24);
    key[1] = static_cast<std::uint8_t>(kMagicCookie >> 16);
    key[2] = static_cast<std::uint8_t>(kMagicCookie >> 8);
    key[3] = static_cast<std::uint8_t>(kMagicCookie);
    std::memcpy(key.data() + 4, id.data(), id.size());
    return key;
}

// RFC 5389 15.1 and 15.2: reserved byte, family, port, address (4 or 16 bytes), the port and
// address XORed with the cookie and the id for XOR-MAPPED-ADDRESS.
void PutAddress(std::vector<std::uint8_t>& out, std::uint16_t type, const StunAddress& address,
                const TransactionId& id, bool xored) {
    std::array<std::uint8_t, 16> raw{};
    const int family = address.ipv6 ? AF_INET6 : AF_INET;
    if (::inet_pton(family, address.address.c_str(), raw.data()) != 1) {
        return;
    }
    const std::size_t size = address.ipv6 ? 16 : 4;
    const auto key = XorKey(id);
    PutU16(out, type);
    PutU16(out, static_cast<std::uint16_t>(4 + size));
    out.push_back(0);
    out.push_back(address.ipv6 ? kFamilyIpv6 : kFamilyIpv4);
    PutU16(out,
           xored ? static_cast<std::uint16_t>(address.port ^ (kMagicCookie >> 16)) : address.port);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(xored ? static_cast<std::uint8_t>(raw[i] ^ key[i]) : raw[i]);
    }
}

std::optional<StunAddress> ReadAddress(std::span<const std::uint8_t> value, const TransactionId& id,
                                       bool xored) {
    platform::ByteReader reader(value);
    reader.Skip(1);
    const std::uint8_t family = reader.U8();
    std::uint16_t port = reader.U16Be();
    if (!reader.Ok() || (family != kFamilyIpv4 && family != kFamilyIpv6)) {
        return std::nullopt;
    }
    const std::size_t size = family == kFamilyIpv6 ? 16 : 4;
    std::array<std::uint8_t, 16> raw{};
    reader.Bytes(raw.data(), size);
    if (!reader.Ok() || reader.Remaining() != 0) {
        return std::nullopt;
    }
    if (xored) {
        port = static_cast<std::uint16_t>(port ^ (kMagicCookie >> 16));
        const auto key = XorKey(id);
        for (std::size_t i = 0; i < size; ++i) {
            raw[i] = static_cast<std::uint8_t>(raw[i] ^ key[i]);
        }
    }
    char text[INET6_ADDRSTRLEN] = {};
    const bool ipv6 = family == kFamilyIpv6;
    if (::inet_ntop(ipv6 ? AF_INET6 : AF_INET, raw.data(), text, sizeof text) == nullptr) {
        return std::nullopt;
    }
    return StunAddress{text, port, ipv6};
}

// The 20-byte header, checked: zero leading bits, the cookie, a length that is the rest of
// the datagram in whole words. Leaves the reader on the first attribute.
AnswerError ReadHeader(platform::ByteReader& reader, std::size_t datagramSize, std::uint16_t& type,
                       TransactionId& id) {
    if (datagramSize > kMaxAnswerBytes || datagramSize > reader.Size()) {
        return AnswerError::TooLong;
    }
    type = reader.U16Be();
    const std::uint16_t length = reader.U16Be();
    const std::uint32_t cookie = reader.U32Be();
    reader.Bytes(id.data(), id.size());
    if (!reader.Ok()) {
        return AnswerError::TooShort;
    }
    if ((type & 0xC000) != 0) {
        return AnswerError::NotStun;
    }
    if (cookie != kMagicCookie) {
        return AnswerError::BadCookie;
    }
    if (length % 4 != 0 || length != reader.Remaining()) {
        return AnswerError::BadLength;
    }
    return AnswerError::None;
}

}  // namespace

TransactionId NewTransactionId() {
    TransactionId id{};
    std::size_t filled = 0;
    while (filled < id.size()) {
        const ssize_t got = ::getrandom(id.data() + filled, id.size() - filled, 0);
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled < id.size()) {
        // Only a kernel before 3.17 lacks getrandom; the library's device is the next best.
        std::random_device device;
        for (auto& byte : id) {
            byte = static_cast<std::uint8_t>(device());
        }
    }
    return id;
}

std::vector<std::uint8_t> BindingRequest(const TransactionId& id, ChangeRequest change) {
    std::vector<std::uint8_t> out;
    PutHeader(out, kBindingRequest, id);
    if (change.changeIp || change.changePort) {
        PutU16(out, kChangeRequest);
        PutU16(out, 4);
        PutU32(out,
               (change.changeIp ? kChangeIpFlag : 0) | (change.changePort ? kChangePortFlag : 0));
    }
    FinishLength(out);
    return out;
}

const char* DescribeAnswerError(AnswerError error) {
    switch (error) {
        case AnswerError::None:
            return "binding answer";
        case AnswerError::TooShort:
            return "cut short";
        case AnswerError::TooLong:
            return "longer than a binding answer";
        case AnswerError::NotStun:
            return "not a STUN message";
        case AnswerError::BadCookie:
            return "no magic cookie";
        case AnswerError::BadLength:
            return "length does not match the datagram";
        case AnswerError::NotBindingAnswer:
            return "not a binding answer";
        case AnswerError::BadAddress:
            return "malformed address attribute";
        case AnswerError::BadErrorCode:
            return "malformed error code";
        case AnswerError::TooManyAttributes:
            return "too many attributes";
    }
    return "unknown";
}

// RFC 5389 15: attributes are type, length, value, padded to a multiple of 4. Where both the
// current and the RFC 3489 form of an address arrive, the current one wins.
AnswerResult ParseBindingAnswer(std::span<const std::uint8_t> bytes, std::size_t datagramSize) {
    AnswerResult result;
    BindingAnswer& answer = result.answer;
    platform::ByteReader reader(bytes);
    std::uint16_t type = 0;
    result.error = ReadHeader(reader, datagramSize, type, answer.id);
    if (result.error == AnswerError::None && type != kBindingSuccess && type != kBindingError) {
        result.error = AnswerError::NotBindingAnswer;
    }
    if (result.error != AnswerError::None) {
        result.offset = reader.Ok() ? 0 : reader.ErrorOffset();
        return result;
    }
    answer.success = type == kBindingSuccess;
    std::optional<StunAddress> mapped;
    std::optional<StunAddress> changed;
    std::optional<StunAddress> source;
    for (std::size_t count = 0; reader.Remaining() > 0; ++count) {
        const std::size_t at = reader.Offset();
        if (count == kMaxAttributes) {
            return {AnswerError::TooManyAttributes, at, {}};
        }
        const std::uint16_t attribute = reader.U16Be();
        const std::uint16_t length = reader.U16Be();
        const auto value = reader.Take(length);
        reader.Skip((4 - length % 4) % 4);
        if (!reader.Ok()) {
            return {AnswerError::TooShort, at, {}};
        }
        std::optional<StunAddress>* target = nullptr;
        bool xored = false;
        switch (attribute) {
            case kXorMappedAddress:
                target = &answer.mapped;
                xored = true;
                break;
            case kMappedAddress:
                target = &mapped;
                break;
            case kOtherAddress:
                target = &answer.other;
                break;
            case kChangedAddress:
                target = &changed;
                break;
            case kResponseOrigin:
                target = &answer.origin;
                break;
            case kSourceAddress:
                target = &source;
                break;
            case kErrorCode: {
                // RFC 5389 15.6: 21 reserved bits, the class (3 bits) and the number (8).
                platform::ByteReader code(value);
                code.Skip(2);
                const std::uint8_t codeClass = code.U8() & 0x07;
                const std::uint8_t number = code.U8();
                if (!code.Ok()) {
                    return {AnswerError::BadErrorCode, at, {}};
                }
                answer.errorCode = codeClass * 100 + number;
                continue;
            }
            default:
                continue;  // unknown or not needed: skipped with its padding
        }
        *target = ReadAddress(value, answer.id, xored);
        if (!*target) {
            return {AnswerError::BadAddress, at, {}};
        }
    }
    if (!answer.mapped) {
        answer.mapped = mapped;
    }
    if (!answer.other) {
        answer.other = changed;
    }
    if (!answer.origin) {
        answer.origin = source;
    }
    return result;
}

std::vector<std::uint8_t> WriteBindingAnswer(const AnswerFields& fields) {
    std::vector<std::uint8_t> out;
    PutHeader(out, fields.success ? kBindingSuccess : kBindingError, fields.id);
    if (fields.mapped) {
        PutAddress(out, fields.legacy ? kMappedAddress : kXorMappedAddress, *fields.mapped,
                   fields.id, !fields.legacy);
    }
    if (fields.other) {
        PutAddress(out, fields.legacy ? kChangedAddress : kOtherAddress, *fields.other, fields.id,
                   false);
    }
    if (fields.origin) {
        PutAddress(out, fields.legacy ? kSourceAddress : kResponseOrigin, *fields.origin, fields.id,
                   false);
    }
    if (fields.errorCode) {
        PutU16(out, kErrorCode);
        PutU16(out, 4);
        PutU16(out, 0);
        out.push_back(static_cast<std::uint8_t>(*fields.errorCode / 100));
        out.push_back(static_cast<std::uint8_t>(*fields.errorCode % 100));
    }
    FinishLength(out);
    return out;
}

std::optional<ChangeRequest> ReadBindingRequest(std::span<const std::uint8_t> bytes,
                                                TransactionId& id) {
    platform::ByteReader reader(bytes);
    std::uint16_t type = 0;
    if (ReadHeader(reader, bytes.size(), type, id) != AnswerError::None ||
        type != kBindingRequest) {
        return std::nullopt;
    }
    ChangeRequest change;
    while (reader.Remaining() > 0) {
        const std::uint16_t attribute = reader.U16Be();
        const std::uint16_t length = reader.U16Be();
        platform::ByteReader value(reader.Take(length));
        reader.Skip((4 - length % 4) % 4);
        if (!reader.Ok()) {
            return std::nullopt;
        }
        if (attribute == kChangeRequest) {
            const std::uint32_t flags = value.U32Be();
            change.changeIp = (flags & kChangeIpFlag) != 0;
            change.changePort = (flags & kChangePortFlag) != 0;
        }
    }
    return change;
}

}  // namespace lumidex::stun
