#include "engine/ProbeCapture.h"

#include "engine/DiagLog.h"
#include "engine/FindingsText.h"

namespace lumidex {
namespace {

thread_local ProbeCapture* t_capture = nullptr;

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

void ProbeCapture::Replay() const {
    for (const Entry& entry : m_entries) {
        std::visit(Overloaded{
                       [](const LogEntry& log) { TheDiagLog().Write(log.text, log.level); },
                       [](const FindingEntry& finding) { TheFindingsText().Append(finding.text); },
                       [](const ProbeRecord& probe) { RecordProbe(probe); },
                       [](const Problem& problem) { NoteProblem(problem); },
                   },
                   entry);
    }
}

CaptureScope::CaptureScope(ProbeCapture& capture) : m_previous(t_capture) {
    t_capture = &capture;
}

CaptureScope::~CaptureScope() {
    t_capture = m_previous;
}

bool CaptureEntry(ProbeCapture::Entry&& entry) {
    if (t_capture == nullptr) {
        return false;
    }
    t_capture->m_entries.push_back(std::move(entry));
    return true;
}

}  // namespace lumidex
