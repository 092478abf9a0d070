#include "platform/TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <utility>

namespace lumidex::platform {
namespace {

// Output is produced through a stack buffer of this size and appended to the result.
constexpr std::size_t kConvertChunkBytes = 1024;

// The Windows flavour of GBK (it has the euro sign at 0x80); plain GBK if glibc lacks the name.
constexpr const char* kGbkNames[] = {"CP936", "GBK"};

constexpr std::string_view kGbkUnmapped = "?";
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";  // U+FFFD

// One iconv descriptor. A descriptor carries conversion state and must not be shared between
// threads, so every conversion opens its own; glibc caches the loaded tables, which keeps
// opening cheap, and nothing outlives the call (no thread_local to outlive).
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~IconvHandle() {
        if (IsOpen()) {
            ::iconv_close(m_cd);
        }
    }
    IconvHandle(IconvHandle&& other) noexcept : m_cd(std::exchange(other.m_cd, kClosed)) {}
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    IconvHandle& operator=(IconvHandle&&) = delete;

    bool IsOpen() const { return m_cd != kClosed; }
    iconv_t get() const { return m_cd; }

private:
    static inline const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
};

// A closed handle when glibc has no GBK tables at all; conversion then degrades to
// replacement characters instead of failing.
IconvHandle OpenGbk(bool toGbk) {
    for (const char* name : kGbkNames) {
        IconvHandle handle(toGbk ? name : "UTF-8", toGbk ? "UTF-8" : name);
        if (handle.IsOpen()) {
            return handle;
        }
    }
    return IconvHandle(toGbk ? kGbkNames[0] : "UTF-8", toGbk ? "UTF-8" : kGbkNames[0]);
}

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) {
    return c >= lo && c <= hi;
}

// Length of the well-formed UTF-8 sequence at pos, or 0 when there is none. Accepted grammar
// (Unicode table 3-7; no overlong forms, no surrogates, nothing above U+10FFFF):
//   00-7F | C2-DF 80-BF | E0 A0-BF 80-BF | E1-EC 80-BF 80-BF | ED 80-9F 80-BF
//   | EE-EF 80-BF 80-BF | F0 90-BF 80-BF 80-BF | F1-F3 80-BF 80-BF 80-BF | F4 80-8F 80-BF 80-BF
std::size_t Utf8Length(std::string_view s, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    const std::size_t left = s.size() - pos;
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (InRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (InRange(lead, 0xE0, 0xEF)) {
        length = 3;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (InRange(lead, 0xF0, 0xF4)) {
        length = 4;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (left < length || !InRange(at(1), lo, hi)) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!InRange(at(i), 0x80, 0xBF)) {
            return 0;
        }
    }
    return length;
}

// Length of the well-formed GBK character at pos, or 0 when there is none. Accepted grammar:
//   00-80 (0x80 is the euro sign) | 81-FE (40-7E | 80-FE)
std::size_t GbkLength(std::string_view s, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    if (lead <= 0x80) {
        return 1;
    }
    if (lead == 0xFF || pos + 1 >= s.size()) {
        return 0;
    }
    const auto trail = static_cast<unsigned char>(s[pos + 1]);
    return InRange(trail, 0x40, 0x7E) || InRange(trail, 0x80, 0xFE) ? 2 : 0;
}

using LengthFn = std::size_t (*)(std::string_view, std::size_t);

// Converts run, a sequence of whole well-formed characters of the source encoding, appending
// to out. A character the target encoding lacks becomes `unmapped`.
void ConvertRun(const IconvHandle& cd, std::string_view run, LengthFn length,
                std::string_view unmapped, std::string& out) {
    if (!cd.IsOpen()) {
        for (std::size_t pos = 0; pos < run.size(); pos += length(run, pos)) {
            out += unmapped;
        }
        return;
    }
    ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    // iconv takes char** for its input although it never writes through it.
    char* in = const_cast<char*>(run.data());
    std::size_t inLeft = run.size();
    std::array<char, kConvertChunkBytes> chunk;
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t result = ::iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk.data(), static_cast<std::size_t>(outPtr - chunk.data()));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ (or EINVAL, which a run of whole characters cannot cause): the character
        // at `in` has no code in the target. Skip exactly that character.
        const std::size_t offset = static_cast<std::size_t>(in - run.data());
        const std::size_t skip = std::max<std::size_t>(1, length(run, offset));
        out += unmapped;
        in += skip;
        inLeft -= skip;
        ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
}

// ASCII is the same in both encodings and is copied directly; runs of well-formed non-ASCII
// characters go through iconv; anything else is handled by `malformed`.
template <typename MalformedFn>
std::string Convert(std::string_view text, bool toGbk, LengthFn length, std::string_view unmapped,
                    MalformedFn malformed) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    std::optional<IconvHandle> cd;  // opened at the first non-ASCII character only
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            out += text[pos++];
            continue;
        }
        const std::size_t start = pos;
        std::size_t step = 0;
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) >= 0x80 &&
               (step = length(text, pos)) != 0) {
            pos += step;
        }
        if (pos == start) {
            malformed(text[pos], out);
            ++pos;
            continue;
        }
        if (!cd) {
            cd.emplace(OpenGbk(toGbk));
        }
        ConvertRun(*cd, text.substr(start, pos - start), length, unmapped, out);
    }
    return out;
}

bool IsWellFormedUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t step = Utf8Length(text, pos);
        if (step == 0) {
            return false;
        }
        pos += step;
    }
    return true;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
    return Convert(utf8, true, Utf8Length, kGbkUnmapped,
                   [](char byte, std::string& out) { out += byte; });
}

std::string GbkToUtf8(std::string_view gbk) {
    return Convert(gbk, false, GbkLength, kUtf8Replacement,
                   [](char, std::string& out) { out += kUtf8Replacement; });
}

std::string ValidUtf8(std::string_view text) {
    if (IsWellFormedUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t step = Utf8Length(text, pos);
        if (step == 0) {
            out += kUtf8Replacement;
            ++pos;
            continue;
        }
        out.append(text.substr(pos, step));
        pos += step;
    }
    return out;
}

std::string Utf8OrGbkToUtf8(std::string_view text) {
    return IsWellFormedUtf8(text) ? std::string(text) : GbkToUtf8(text);
}

std::string Utf8WithGbkToUtf8(std::string_view text) {
    if (IsWellFormedUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (std::size_t pos = 0; pos < text.size();) {
        if (const std::size_t step = Utf8Length(text, pos); step != 0) {
            out.append(text.substr(pos, step));
            pos += step;
            continue;
        }
        // The run up to the next UTF-8 sequence, cut into characters as GbkToUtf8 cuts it
        // (a trail byte may be ASCII), decoded at once. A lead byte before a character of
        // the program's own stays alone: the character is kept whole.
        const std::size_t start = pos;
        while (pos < text.size() && (pos == start || Utf8Length(text, pos) == 0)) {
            std::size_t step = GbkLength(text, pos);
            if (step == 2 && Utf8Length(text, pos + 1) > 1) {
                step = 1;
            }
            pos += std::max<std::size_t>(1, step);
        }
        out += GbkToUtf8(text.substr(start, pos - start));
    }
    return out;
}

}  // namespace lumidex::platform
