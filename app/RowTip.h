// The tip a hovered row of the check list shows: every non-empty cell of the row as
// "heading: text", one line each, so a detail wider than its column can be read in full; then
// the next steps of the row's problems.
#pragma once

#include <string>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex {

// The tip buffer holds this many characters, the last one the terminator.
inline constexpr int kRowTipCapacity = 1024;
// A column heading is read into a buffer of 99 characters: 98 and the terminator.
inline constexpr int kRowTipHeadingCapacity = 99;

// Lines joined by "\r\n"; headings cut to 98 characters and the whole cut to 1023
// (characters, not bytes: texts are UTF-8). cells[i] belongs under headings[i].
std::string RowTipText(const std::vector<std::string>& headings,
                       const std::vector<std::string>& cells);

// The tip of a row with problems: tip as RowTipText made it, cut included, then a line
// "建议:" and one line "- STEP" per next step. Without steps, tip itself.
std::string RowTipWithAdvice(const std::string& tip, const std::vector<std::string>& adviceLines);

// tip, then a line "原因:" and one line "- CAUSE" per problem of the run that explains some of
// the row's problems, once each, as its next step names it. Without any, tip itself.
std::string RowTipWithCauses(const std::string& tip, const RowDiagnosis& row);

// The first maxChars characters of a UTF-8 text.
std::string CutUtf8(const std::string& text, int maxChars);

}  // namespace lumidex
