#include "report/ReportPreview.h"

#include "platform/AsciiChar.h"
#include "platform/TextCodec.h"
#include "report/ReportPoster.h"

namespace lumidex {
namespace {

using platform::HexDigit;

// What separates the body's form fields; an "&" inside a field is always escaped.
constexpr char kFieldSeparator = '&';
// U+2400 (SYMBOL FOR NULL) in UTF-8; the picture of control byte c is U+2400 + c.
constexpr char kControlPictureLead[] = "\xE2\x90";
constexpr unsigned char kControlPictureBase = 0x80;
constexpr char kDeletePicture[] = "\xE2\x90\xA1";  // U+2421
constexpr unsigned char kDelete = 0x7F;

// Line ends (CR LF and LF) as LF, a tab as it is, every other control byte as its picture.
std::string Printable(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
            out += '\n';
            ++i;
        } else if (byte == '\n' || byte == '\t' || (byte >= 0x20 && byte != kDelete)) {
            out += static_cast<char>(byte);
        } else if (byte == kDelete) {
            out += kDeletePicture;
        } else {
            out += kControlPictureLead;
            out += static_cast<char>(kControlPictureBase + byte);
        }
    }
    return out;
}

}  // namespace

std::string UnescapeFormText(std::string_view escaped) {
    std::string bytes;
    bytes.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '%' && i + 2 < escaped.size() && HexDigit(escaped[i + 1]) >= 0 &&
            HexDigit(escaped[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(escaped[i + 1]) * 16 + HexDigit(escaped[i + 2]));
            i += 2;
            continue;
        }
        bytes += escaped[i];
    }
    return platform::GbkToUtf8(bytes);
}

std::string FormatReportPreview(std::string_view body, std::string_view url) {
    const auto parsed = ParseHttpUrl(url);
    if (!parsed) {
        return "nothing would be sent: " + std::string(url) + " is not an http:// address\n";
    }
    std::string text = Printable(BuildPostHeader(parsed->host, parsed->object, body.size()));
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = body.find(kFieldSeparator, start);
        text += Printable(UnescapeFormText(body.substr(start, end - start)));
        // A field that ends with a line break (the contact block does) needs no other.
        if (text.back() != '\n') {
            text += '\n';
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    text += "\nbody: " + std::to_string(body.size()) + " bytes\n";
    return text;
}

}  // namespace lumidex
