#include "engine/FindingsText.h"

#include "engine/ProbeCapture.h"

namespace lumidex {

void FindingsText::Reset(std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_text.assign(text);
}

void FindingsText::Append(std::string_view text) {
    // A probe running ahead of the walk records its line; the walk appends it at its place.
    if (this == &TheFindingsText() && CaptureFinding(std::string(text))) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_text.append(text);
}

std::string FindingsText::Text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
}

FindingsText& TheFindingsText() {
    static FindingsText text;
    return text;
}

void AddFinding(std::string_view line) {
    std::string text = "\r\n";
    text += line;
    TheFindingsText().Append(text);
}

}  // namespace lumidex
