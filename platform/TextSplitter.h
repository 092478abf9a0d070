// Cuts a delimited text into its ordered pieces. Two adjacent delimiters keep the empty piece
// between them; a trailing delimiter adds no empty last piece; the empty text gives none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumidex {

class TextSplitter {
public:
    explicit TextSplitter(std::string delimiter = "\r\n") : m_delimiter(std::move(delimiter)) {}

    void SetDelimiter(std::string delimiter) { m_delimiter = std::move(delimiter); }
    const std::string& Delimiter() const { return m_delimiter; }

    // Replaces the pieces with those of text. An empty delimiter never matches: the whole
    // (non-empty) text is one piece.
    void Split(std::string_view text);
    const std::vector<std::string>& Pieces() const { return m_pieces; }

private:
    std::string m_delimiter;
    std::vector<std::string> m_pieces;
};

}  // namespace lumidex
