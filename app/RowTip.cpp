#include "app/RowTip.h"

#include <algorithm>

#include "engine/ProblemCatalog.h"

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

// The steps come after the cut: the cells' part of the tip stays what it always was, and a
// long detail cannot push the steps out.
std::string RowTipWithAdvice(const std::string& tip, const std::vector<std::string>& adviceLines) {
    if (adviceLines.empty()) {
        return tip;
    }
    std::string out = tip + "\r\n建议:";
    for (const std::string& line : adviceLines) {
        out += "\r\n- " + line;
    }
    return out;
}

// A next step names its problem before its first full-width colon ("本地连接中断：检查网线…").
std::string RowTipWithCauses(const std::string& tip, const RowDiagnosis& row) {
    std::vector<ProblemCode> causes;
    for (const ExplainedBy& explained : row.explainedBy) {
        if (std::find(causes.begin(), causes.end(), explained.cause) == causes.end()) {
            causes.push_back(explained.cause);
        }
    }
    if (causes.empty()) {
        return tip;
    }
    std::string out = tip + "\r\n原因:";
    for (ProblemCode cause : causes) {
        const std::string_view advice = InfoOf(cause).advice;
        out += "\r\n- " + std::string(advice.substr(0, advice.find("：")));
    }
    return out;
}

}  // namespace lumidex
