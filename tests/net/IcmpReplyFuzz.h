// Fuzz entry point of the ICMP reply check: returns 0, aborts when the check breaks a promise.
#pragma once

#include <cstddef>
#include <cstdint>

// The corpus's replies answer a ping of 127.0.0.1 with this identifier (bytes 34 12).
inline constexpr std::uint16_t kFuzzIdentifier = 0x1234;

int FuzzIcmpReply(const uint8_t* data, size_t size);
