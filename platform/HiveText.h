// Text pieces of registry hive files: blanks, hex numbers, quoted strings with their escapes,
// hex byte lists, and the UTF-16 and UTF-8 forms text takes on the way into the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryHive.h"

namespace lumidex::platform::hivetext {

inline constexpr uint32_t kReplacementChar = 0xFFFD;

std::string_view TrimLeft(std::string_view s);  // spaces and tabs
std::string_view TrimRight(std::string_view s);
std::string_view Trim(std::string_view s);

// 1 to 8 hex digits and nothing else.
std::optional<uint32_t> ParseHex32(std::string_view digits);

// Hex byte list: empty, or hh(,hh)* with blanks allowed around the commas and an optional
// trailing comma (what a continued line leaves behind). Each byte is one or two hex digits.
// No count limit here: the caller's text limit bounds the list, and the value's data limit is
// checked (and named) where the value is stored.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text);

// UTF-8 text built from raw UTF-8 bytes and UTF-16 code units mixed; a surrogate pair becomes
// one character, an unpaired surrogate U+FFFD. A high surrogate may wait across TakeReady.
class Utf8Builder {
public:
    void Raw(char c);
    void Unit(uint32_t unit);
    // Everything so far, an unpaired high surrogate included.
    std::string Take();
    // What is complete so far; a high surrogate at the end stays for the next unit.
    std::string TakeReady();

private:
    void FlushSurrogate();
    std::string m_out;
    uint32_t m_high = 0;
};

std::string Utf16LeToUtf8(const std::vector<uint8_t>& bytes);  // an odd last byte is dropped

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s);

// Reads a quoted text from s[pos] (just behind the opening delimiter) up to the unescaped
// `close`, leaving pos behind it. False when the line ends first; close == '\0' reads to the
// end of s. Escapes understood:
//   Wine hives: \\ \" \[ \] (any other character stands for itself), \a \b \e \f \n \r \t \v,
//               \x with 1-4 hex digits (a UTF-16 code unit), \ with 1-3 octal digits.
//   Export files: \\ \" \n \r \t \0; any other backslash is kept as written.
bool Unescape(std::string_view s, std::size_t& pos, char close, HiveFormat format,
              std::string& text);

// "a\b\c" -> {"a", "b", "c"}; empty components are kept.
std::vector<std::string_view> SplitPath(std::string_view path);

}  // namespace lumidex::platform::hivetext
