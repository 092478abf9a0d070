// Bounds-checked reading of a byte buffer: every read checks the remaining length, and an
// error, once set, sticks, so a parser reads its fields and checks Ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumidex::lab {

class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint8_t U8() {
        if (!Need(1)) {
            return 0;
        }
        return m_bytes[m_offset++];
    }
    std::uint16_t U16Le() {
        if (!Need(2)) {
            return 0;
        }
        const auto value =
            static_cast<std::uint16_t>(m_bytes[m_offset] | (m_bytes[m_offset + 1] << 8));
        m_offset += 2;
        return value;
    }
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

    bool Ok() const { return !m_failed; }
    std::size_t Remaining() const { return m_failed ? 0 : m_bytes.size() - m_offset; }

  private:
    bool Need(std::size_t n) {
        if (m_failed || m_bytes.size() - m_offset < n) {
            m_failed = true;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset = 0;
    bool m_failed = false;
};

}  // namespace lumidex::lab
