// The problems of the current run, one "\r\n"-led line each, that a report sends. Written by
// the check thread while the window thread may read it, hence the lock.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace lumidex {

class FindingsText {
public:
    void Reset(std::string_view text);
    void Append(std::string_view text);
    std::string Text() const;

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

// The one process-wide findings text.
FindingsText& TheFindingsText();

// Appends "\r\n" + line to the findings text.
void AddFinding(std::string_view line);

}  // namespace lumidex
