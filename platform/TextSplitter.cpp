#include "platform/TextSplitter.h"

namespace lumidex {

void TextSplitter::Split(std::string_view text) {
    m_pieces.clear();
    std::size_t pos = 0;
    if (!m_delimiter.empty()) {
        for (auto found = text.find(m_delimiter); found != std::string_view::npos;
             found = text.find(m_delimiter, pos)) {
            m_pieces.emplace_back(text.substr(pos, found - pos));
            pos = found + m_delimiter.size();
        }
    }
    if (pos < text.size()) {
        m_pieces.emplace_back(text.substr(pos));
    }
}

}  // namespace lumidex
