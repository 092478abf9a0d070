// The escaping of the report's form fields: what the report server's form parser needs
// escaped, and nothing else (space, plus, equals sign, CR and LF pass unchanged).
#pragma once

#include <string>
#include <string_view>

namespace lumidex {

// Escapes bytes (GBK, as sent): every byte 0x80-0xFF and the eleven characters \ / : * ? "
// < > | % & become "%XX" with upper-case hex digits. Output stops growing once it is longer
// than kEscapeCutBytes; the rest of the text is dropped.
std::string UrlEscape(std::string_view bytes);

}  // namespace lumidex
