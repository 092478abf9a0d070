#include "platform/HiveText.h"

#include <utility>

#include "platform/AsciiChar.h"

namespace lumidex::platform::hivetext {
namespace {

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

std::optional<uint32_t> ParseHex32(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return value;
}

void Utf8Builder::Raw(char c) {
    FlushSurrogate();
    m_out += c;
}

void Utf8Builder::Unit(uint32_t unit) {
    if (IsHighSurrogate(unit)) {
        FlushSurrogate();
        m_high = unit;
        return;
    }
    if (IsLowSurrogate(unit)) {
        const uint32_t high = std::exchange(m_high, 0);
        AppendCodePoint(m_out, high != 0 ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00)
                                         : kReplacementChar);
        return;
    }
    FlushSurrogate();
    AppendCodePoint(m_out, unit);
}

std::string Utf8Builder::Take() {
    FlushSurrogate();
    return std::exchange(m_out, {});
}

std::string Utf8Builder::TakeReady() {
    return std::exchange(m_out, {});
}

void Utf8Builder::FlushSurrogate() {
    if (std::exchange(m_high, 0) != 0) {
        AppendCodePoint(m_out, kReplacementChar);
    }
}

std::string Utf16LeToUtf8(const std::vector<uint8_t>& bytes) {
    Utf8Builder out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.Unit(static_cast<uint32_t>(bytes[i]) | (static_cast<uint32_t>(bytes[i + 1]) << 8));
    }
    return out.Take();
}

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            lo = lead == 0xE0 ? 0xA0 : 0x80;
            hi = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            lo = lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (s.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

namespace {

// Export files: \\ \" \n \r \t \0; any other backslash is kept as written.
void ExportEscape(char e, Utf8Builder& out) {
    switch (e) {
        case '\\':
        case '"':
            out.Raw(e);
            return;
        case 'n':
            out.Raw('\n');
            return;
        case 'r':
            out.Raw('\r');
            return;
        case 't':
            out.Raw('\t');
            return;
        case '0':
            out.Raw('\0');
            return;
        default:
            out.Raw('\\');
            out.Raw(e);
    }
}

// Wine's C letter escapes; any other letter stands for itself.
char WineLetterEscape(char e) {
    switch (e) {
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'e':
            return '\x1b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'v':
            return '\v';
        default:
            return e;
    }
}

// Wine hives: the escape e, read from s just before pos; \x takes 1-4 hex digits (a UTF-16
// code unit) and \ 1-3 octal digits from pos on.
void WineEscape(std::string_view s, std::size_t& pos, char e, Utf8Builder& out) {
    if (e == 'x') {
        uint32_t unit = 0;
        int digits = 0;
        for (; digits < 4 && pos < s.size() && HexDigit(s[pos]) >= 0; ++digits, ++pos) {
            unit = (unit << 4) | static_cast<uint32_t>(HexDigit(s[pos]));
        }
        if (digits == 0) {
            out.Raw('x');
        } else {
            out.Unit(unit);
        }
        return;
    }
    if (e >= '0' && e <= '7') {
        uint32_t unit = static_cast<uint32_t>(e - '0');
        for (int digits = 1; digits < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7';
             ++digits, ++pos) {
            unit = (unit << 3) | static_cast<uint32_t>(s[pos] - '0');
        }
        out.Unit(unit);
        return;
    }
    out.Raw(WineLetterEscape(e));
}

}  // namespace

bool Unescape(std::string_view s, std::size_t& pos, char close, HiveFormat format,
              std::string& text) {
    Utf8Builder out;
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == close) {
            text = out.Take();
            return true;
        }
        if (c != '\\' || pos >= s.size()) {
            out.Raw(c);
            continue;
        }
        const char e = s[pos++];
        if (format == HiveFormat::Wine) {
            WineEscape(s, pos, e, out);
        } else {
            ExportEscape(e, out);
        }
    }
    text = out.Take();
    return close == '\0';
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
    std::vector<uint8_t> bytes;
    text = Trim(text);
    while (!text.empty()) {
        std::size_t digits = 0;
        while (digits < text.size() && HexDigit(text[digits]) >= 0) {
            ++digits;
        }
        const auto byte = ParseHex32(text.substr(0, digits));
        if (!byte || digits > 2) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(*byte));
        text = TrimLeft(text.substr(digits));
        if (text.empty()) {
            break;
        }
        if (text.front() != ',') {
            return std::nullopt;
        }
        text = TrimLeft(text.substr(1));
    }
    return bytes;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t cut = path.find('\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::string_view::npos) {
            return parts;
        }
        path.remove_prefix(cut + 1);
    }
}

}  // namespace lumidex::platform::hivetext
