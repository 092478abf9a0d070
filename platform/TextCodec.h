// Conversion between the program's own texts (UTF-8) and code page 936 (GBK), the encoding of
// the diagnostic log file and of report bodies. Both directions are total: they never fail and
// never throw, and each thread may call them at any time.
#pragma once

#include <string>
#include <string_view>

namespace lumidex::platform {

// UTF-8 -> GBK. Every well-formed UTF-8 character is converted; one that GBK has no code for
// becomes a single "?". Bytes that are not part of a well-formed UTF-8 sequence are copied
// unchanged, so a text that already holds GBK bytes passes through as it is. (A short GBK
// text whose bytes happen to form well-formed UTF-8 as well is taken as UTF-8.)
std::string Utf8ToGbk(std::string_view utf8);

// GBK -> UTF-8. Every well-formed GBK character is converted. A byte that starts no GBK
// character (0xFF, or a lead byte without a valid trail byte) becomes U+FFFD and decoding goes
// on at the next byte, so an ASCII byte after a stray lead byte survives; a well-formed byte
// pair that GBK leaves unassigned becomes one U+FFFD. The result is always well-formed UTF-8.
std::string GbkToUtf8(std::string_view gbk);

// Text that came from outside the program (an answer from the network, a file, the registry),
// made fit for a problem, a probe record or the JSON, which hold well-formed UTF-8 only.
//
// ValidUtf8: well-formed UTF-8 stays as it is; every byte that starts no well-formed sequence
// becomes U+FFFD, and the text goes on at the next byte.
std::string ValidUtf8(std::string_view text);
// For texts of the GBK world (a Windows file, a Chinese server's page or list): the text as
// it is when all of it is well-formed UTF-8, else all of it decoded as GBK (GbkToUtf8).
std::string Utf8OrGbkToUtf8(std::string_view text);
// For the program's own texts with outside bytes inside (a row naming what a hosts file maps):
// every well-formed UTF-8 sequence stays; the bytes between them are read as GBK, as they show
// in the log file, which copies them unchanged; what is no GBK either becomes U+FFFD.
std::string Utf8WithGbkToUtf8(std::string_view text);

}  // namespace lumidex::platform
