// Points the process's diagnostic log at a scratch file for the life of the object and reads
// back the texts of the entries written meanwhile, in order (UTF-8, without date and level).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/DiagLog.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::testing {

class LogCapture {
public:
    LogCapture() {
        TheDiagLog().SetClock([] {
            std::tm time{};
            time.tm_year = 2020 - 1900;
            time.tm_mon = 0;
            time.tm_mday = 2;
            time.tm_hour = 3;
            return time;
        });
        TheDiagLog().SetPath(m_dir / "log.txt");
        m_oldLevel = TheDiagLog().SetLevel(1);
    }
    ~LogCapture() {
        TheDiagLog().SetPath("");
        TheDiagLog().SetLevel(m_oldLevel);
        TheDiagLog().SetClock({});
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every entry's text since the capture began (or since the last Clear).
    std::vector<std::string> Lines() const {
        const std::string text = platform::GbkToUtf8(ReadAll(m_dir / "log.txt"));
        constexpr std::string_view kPrefix = "\r\n2020-1-2 03:00:00 1 ";
        std::vector<std::string> lines;
        std::size_t at = text.find(kPrefix);
        while (at != std::string::npos) {
            const std::size_t start = at + kPrefix.size();
            const std::size_t next = text.find(kPrefix, start);
            lines.push_back(text.substr(start, next == std::string::npos ? next : next - start));
            at = next;
        }
        return lines;
    }
    void Clear() const { WriteFile(m_dir / "log.txt", ""); }

private:
    TempDir m_dir;
    int m_oldLevel = 0;
};

}  // namespace lumidex::testing
