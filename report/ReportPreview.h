// A report as its sender may read it before it goes: the request that ReportPoster::Post
// would put on the wire, with the form body made readable. Both front ends show this text, so
// what the user reads and what is sent come from the same bytes.
#pragma once

#include <string>
#include <string_view>

namespace lumidex {

// Escaped form text made readable: every "%XX" (two hex digits, either case) becomes its byte
// and the bytes are read as GBK (a byte that starts no GBK character shows as U+FFFD). A "%"
// not followed by two hex digits is no escape and is shown as it is.
std::string UnescapeFormText(std::string_view escaped);

// The request ReportPoster::Post(body, url) sends, as text to read:
//   the header lines as sent, then the blank line that ends them;
//   the body, each form field ("&" between fields) on a line of its own and unescaped
//   (UnescapeFormText), a CR LF inside a field ending a line there too;
//   a blank line and "body: N bytes", N the body's length on the wire (its Content-Length).
// Lines end in LF. Every other control character, a lone CR included, shows as its Unicode
// control picture (U+2400 + byte, DEL as U+2421): the text can neither move a terminal's
// cursor nor hide a byte that is sent. A url that Post would refuse gives one line saying
// that nothing would be sent.
std::string FormatReportPreview(std::string_view body, std::string_view url);

}  // namespace lumidex
