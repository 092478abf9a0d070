// The diagnostic log: one plain-text file (GBK, CR LF) that every check and probe appends its
// findings to, so that a support person can read afterwards what one run of the tool did.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace lumidex {

class DiagLog {
public:
    // Source of the current local time; replaceable so that tests can fix the date.
    using Clock = std::function<std::tm()>;

    // Disabled (empty path), threshold 0, real local time.
    DiagLog();
    DiagLog(const DiagLog&) = delete;
    DiagLog& operator=(const DiagLog&) = delete;

    // Full path of the log file, in Windows form ("C:\...\log\Lumidex_log.txt") or as a host
    // path. An empty path disables logging. The directory is never created here.
    void SetPath(std::string path);

    // Entries whose level is above the threshold are dropped. Returns the previous threshold.
    int SetLevel(int level);

    // An empty clock restores the real local time.
    void SetClock(Clock clock);

    // Appends one entry: "\r\n<y>-<m>-<d> <hh>:<mm>:<ss> <level> " followed by text (UTF-8,
    // stored as GBK) exactly as given. An empty file first gets the header. The file is opened
    // and closed for every entry, so it is complete on disk after each one. Text ends at its
    // first NUL. Any failure (no path, missing directory, no rights, write error, a lock that
    // another program holds for longer than a few tens of milliseconds) silently drops the
    // entry; the next entry tries again. Safe to call from any thread; entries are never
    // interleaved.
    void Write(std::string_view text, int level);

private:
    std::tm Now() const;

    std::atomic<int> m_level{0};
    std::mutex m_lock;  // serialises whole entries and guards the members below
    std::string m_path;
    Clock m_clock;
};

// The one log of the process. It exists from the first call on and is never destroyed, so
// that code running during static destruction can still log.
DiagLog& TheDiagLog();

// One entry at level 1, the level every check writes at.
void Log(std::string_view text);

}  // namespace lumidex
