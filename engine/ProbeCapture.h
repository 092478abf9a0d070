// Work that runs ahead of its place in the walk (a probe on a task thread) must not write the
// log or the findings text when it happens: what it writes is recorded on its thread instead,
// and the walk replays the record where the one-at-a-time walk would have written it.
#pragma once

#include <string>
#include <vector>

namespace lumidex {

class ProbeCapture {
public:
    // Writes the recorded log entries and findings text through the normal calls, in the order
    // they were made.
    void Replay() const;

    struct Entry {
        bool finding = false;  // findings text, else a log entry
        int level = 0;
        std::string text;
    };
    const std::vector<Entry>& Entries() const { return m_entries; }

private:
    friend class CaptureScope;
    friend bool CaptureLog(const std::string& text, int level);
    friend bool CaptureFinding(const std::string& text);
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
bool CaptureLog(const std::string& text, int level);
bool CaptureFinding(const std::string& text);

}  // namespace lumidex
