#include "engine/ProbeCapture.h"

#include "engine/DiagLog.h"
#include "engine/FindingsText.h"

namespace lumidex {
namespace {

thread_local ProbeCapture* t_capture = nullptr;

}  // namespace

void ProbeCapture::Replay() const {
    for (const Entry& entry : m_entries) {
        if (entry.finding) {
            TheFindingsText().Append(entry.text);
        } else {
            TheDiagLog().Write(entry.text, entry.level);
        }
    }
}

CaptureScope::CaptureScope(ProbeCapture& capture) : m_previous(t_capture) {
    t_capture = &capture;
}

CaptureScope::~CaptureScope() {
    t_capture = m_previous;
}

bool CaptureLog(const std::string& text, int level) {
    if (t_capture == nullptr) {
        return false;
    }
    t_capture->m_entries.push_back({false, level, text});
    return true;
}

bool CaptureFinding(const std::string& text) {
    if (t_capture == nullptr) {
        return false;
    }
    t_capture->m_entries.push_back({true, 0, text});
    return true;
}

}  // namespace lumidex
