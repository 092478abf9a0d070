#include "app/RowTip.h"

namespace lumidex {

std::string CutUtf8(const std::string& text, int maxChars) {
    int chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A character starts at every byte that is not a continuation byte.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars) {
            return text.substr(0, i);
        }
    }
    return text;
}

std::string RowTipText(const std::vector<std::string>& headings,
                       const std::vector<std::string>& cells) {
    std::string tip;
    for (std::size_t column = 0; column < headings.size() && column < cells.size(); ++column) {
        if (cells[column].empty()) {
            continue;
        }
        if (!tip.empty()) {
            tip += "\r\n";
        }
        tip += CutUtf8(headings[column], kRowTipHeadingCapacity - 1) + ": " + cells[column];
    }
    return CutUtf8(tip, kRowTipCapacity - 1);
}

}  // namespace lumidex
