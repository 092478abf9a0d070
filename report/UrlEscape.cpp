#include "report/UrlEscape.h"

#include "report/ReportLimits.h"

namespace lumidex {
namespace {

constexpr std::string_view kEscapedAscii = "\\/:*?\"<>|%&";

bool NeedsEscape(unsigned char byte) {
    return byte >= 0x80 || kEscapedAscii.find(static_cast<char>(byte)) != std::string_view::npos;
}

}  // namespace

std::string UrlEscape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(std::min(bytes.size() * 3, kEscapeCutBytes + 3));
    for (const char c : bytes) {
        if (out.size() > kEscapeCutBytes) {
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (!NeedsEscape(byte)) {
            out += c;
            continue;
        }
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
    return out;
}

}  // namespace lumidex
