// ASCII character classes, the same whatever the locale: what the file formats and protocols
// read here mean by a blank, a space or a digit. Bytes above 0x7F are in no class.
#pragma once

namespace lumidex::platform {

// A blank inside a line: space or tab.
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// White space as XML and most text formats count it: space, tab, CR, LF.
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// White space as C's isspace counts it in the "C" locale: IsSpace plus VT and FF.
constexpr bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value of a hex digit in either case; -1 when c is none.
constexpr int HexDigit(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A-Z to a-z; every other byte as it is.
constexpr char FoldChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace lumidex::platform
