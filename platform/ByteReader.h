// Bounds-checked reading of datagrams and file formats. Every read checks the remaining
// length; the first failure sticks and remembers where it happened, so a parser reads its
// fields straight through and checks Ok() once at the end. Never cast bytes to structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumidex::platform {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    ByteReader(const void* data, std::size_t size)
        : m_bytes(static_cast<const std::uint8_t*>(data), size) {}

    std::uint8_t U8() {
        if (!Need(1)) {
            return 0;
        }
        return m_bytes[m_offset++];
    }
    std::uint16_t U16Le() { return static_cast<std::uint16_t>(Unsigned(2, false)); }
    std::uint16_t U16Be() { return static_cast<std::uint16_t>(Unsigned(2, true)); }
    std::uint32_t U32Le() { return static_cast<std::uint32_t>(Unsigned(4, false)); }
    std::uint32_t U32Be() { return static_cast<std::uint32_t>(Unsigned(4, true)); }

    // Copies n bytes; on a short buffer the output is left alone and the error set.
    void Bytes(std::uint8_t* out, std::size_t n) {
        if (!Need(n)) {
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = m_bytes[m_offset + i];
        }
        m_offset += n;
    }
    // A view of the next n bytes, valid as long as the buffer; empty on failure.
    std::span<const std::uint8_t> Take(std::size_t n) {
        if (!Need(n)) {
            return {};
        }
        auto view = m_bytes.subspan(m_offset, n);
        m_offset += n;
        return view;
    }
    void Skip(std::size_t n) { (void)Take(n); }
    // Moves to an absolute offset; past the end is a failure.
    void Seek(std::size_t offset) {
        if (m_failed) {
            return;
        }
        if (offset > m_bytes.size()) {
            Fail();
            return;
        }
        m_offset = offset;
    }

    [[nodiscard]] bool Ok() const { return !m_failed; }
    std::size_t Offset() const { return m_offset; }
    // Where the first failed read started; meaningful only when !Ok().
    std::size_t ErrorOffset() const { return m_errorOffset; }
    std::size_t Remaining() const { return m_failed ? 0 : m_bytes.size() - m_offset; }
    std::size_t Size() const { return m_bytes.size(); }

private:
    bool Need(std::size_t n) {
        if (m_failed || m_bytes.size() - m_offset < n) {
            Fail();
            return false;
        }
        return true;
    }
    void Fail() {
        if (!m_failed) {
            m_failed = true;
            m_errorOffset = m_offset;
        }
    }
    std::uint64_t Unsigned(std::size_t n, bool bigEndian) {
        if (!Need(n)) {
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = bigEndian ? i : n - 1 - i;
            value = (value << 8) | m_bytes[m_offset + at];
        }
        m_offset += n;
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset = 0;
    std::size_t m_errorOffset = 0;
    bool m_failed = false;
};

}  // namespace lumidex::platform
