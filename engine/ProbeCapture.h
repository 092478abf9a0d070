// Work that runs ahead of its place in the walk (a probe on a task thread) must not write the
// log, the findings text or the row's diagnosis when it happens: what it writes is recorded on
// its thread instead, and the walk replays the record where the one-at-a-time walk would have
// written it.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex {

class ProbeCapture {
public:
    // Writes the recorded log entries, findings text, probes and problems through the normal
    // calls, in the order they were made.
    void Replay() const;

    struct LogEntry {
        int level = 0;
        std::string text;
    };
    struct FindingEntry {
        std::string text;
    };
    using Entry = std::variant<LogEntry, FindingEntry, ProbeRecord, Problem>;

private:
    friend class CaptureScope;
    friend bool CaptureEntry(Entry&& entry);
    std::vector<Entry> m_entries;
};

// While it lives, the log entries and findings text that this thread writes go to capture.
class CaptureScope {
public:
    explicit CaptureScope(ProbeCapture& capture);
    ~CaptureScope();
    CaptureScope(const CaptureScope&) = delete;
    CaptureScope& operator=(const CaptureScope&) = delete;

private:
    ProbeCapture* m_previous;
};

// True when this thread records: the entry was taken and must not be written.
bool CaptureEntry(ProbeCapture::Entry&& entry);
inline bool CaptureLog(const std::string& text, int level) {
    return CaptureEntry(ProbeCapture::LogEntry{level, text});
}
inline bool CaptureFinding(const std::string& text) {
    return CaptureEntry(ProbeCapture::FindingEntry{text});
}

}  // namespace lumidex
