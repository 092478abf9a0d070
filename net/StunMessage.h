// Binding requests and the answers to them (RFC 5389), with the CHANGE-REQUEST of the NAT
// behaviour tests (RFC 5780) and the address attributes of the older servers (RFC 3489). The
// parser reads one datagram through a bounded reader and names what is wrong with it; whether
// an answer belongs to a request (its transaction id) is the caller's comparison.
// Written here rather than taken from a STUN library: it keeps GLib out of the core, and the
// answer parser is ours to fuzz.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex::stun {

// RFC 5389 6: every message carries it; an RFC 3489 server echoes it as part of the id.
inline constexpr std::uint32_t kMagicCookie = 0x2112A442;
inline constexpr std::size_t kHeaderBytes = 20;
// One receive of an answer. Servers keep answers below the path MTU (RFC 5389 7.1); IPv6's
// minimum MTU leaves room for every attribute a Binding answer carries. A longer datagram is
// not a Binding answer we can use, and is rejected as cut.
inline constexpr std::size_t kMaxAnswerBytes = 1280;
// Attributes read from one answer; a Binding answer has a handful, and one with more is not
// worth the loop.
inline constexpr std::size_t kMaxAttributes = 32;

using TransactionId = std::array<std::uint8_t, 12>;

// 96 bits from the kernel's random source: a guessable id would let anyone on the path forge
// the answers the NAT verdict is drawn from.
TransactionId NewTransactionId();

// RFC 5780 7.2: ask the server to answer from its other address and/or its other port.
struct ChangeRequest {
    bool changeIp = false;
    bool changePort = false;
};

// A Binding request; with a CHANGE-REQUEST attribute when either flag is set.
std::vector<std::uint8_t> BindingRequest(const TransactionId& id, ChangeRequest change = {});

// An address an answer carries: "a.b.c.d" or an IPv6 address in its short text form.
struct StunAddress {
    std::string address;
    std::uint16_t port = 0;
    bool ipv6 = false;

    friend bool operator==(const StunAddress&, const StunAddress&) = default;
};

enum class AnswerError {
    None,
    TooShort,           // less than a header, or cut inside an attribute
    TooLong,            // beyond kMaxAnswerBytes (the receive cut it)
    NotStun,            // the first two bits are not zero
    BadCookie,          // not the magic cookie
    BadLength,          // length not a multiple of 4, or not the rest of the datagram
    NotBindingAnswer,   // another method, or a request or indication
    BadAddress,         // an address attribute with an unknown family or the wrong length
    BadErrorCode,       // an ERROR-CODE shorter than its code
    TooManyAttributes,  // beyond kMaxAttributes
};

const char* DescribeAnswerError(AnswerError error);

struct BindingAnswer {
    TransactionId id{};
    bool success = false;  // a success answer; an error answer carries errorCode
    // XOR-MAPPED-ADDRESS, else MAPPED-ADDRESS.
    std::optional<StunAddress> mapped;
    // OTHER-ADDRESS, else CHANGED-ADDRESS.
    std::optional<StunAddress> other;
    // RESPONSE-ORIGIN, else SOURCE-ADDRESS.
    std::optional<StunAddress> origin;
    // ERROR-CODE as class * 100 + number (420, 500); its reason phrase is not kept.
    std::optional<int> errorCode;
};

struct AnswerResult {
    AnswerError error = AnswerError::None;
    std::size_t offset = 0;  // where the fault lies, when there is one
    BindingAnswer answer;
};

// datagramSize: the datagram's whole length as received, which may exceed bytes.
AnswerResult ParseBindingAnswer(std::span<const std::uint8_t> bytes, std::size_t datagramSize);
inline AnswerResult ParseBindingAnswer(std::span<const std::uint8_t> bytes) {
    return ParseBindingAnswer(bytes, bytes.size());
}

// A Binding answer as a server writes it, for the test responders and the fuzz corpus: the
// mapped address as XOR-MAPPED-ADDRESS, or as MAPPED-ADDRESS when legacy.
struct AnswerFields {
    TransactionId id{};
    bool success = true;
    std::optional<StunAddress> mapped;
    std::optional<StunAddress> other;
    std::optional<StunAddress> origin;
    std::optional<int> errorCode;
    bool legacy = false;  // MAPPED-ADDRESS, CHANGED-ADDRESS, SOURCE-ADDRESS
};
std::vector<std::uint8_t> WriteBindingAnswer(const AnswerFields& fields);

// The CHANGE-REQUEST a Binding request carries; none when it is not a well-formed Binding
// request. For the test responders.
std::optional<ChangeRequest> ReadBindingRequest(std::span<const std::uint8_t> bytes,
                                                TransactionId& id);

}  // namespace lumidex::stun
