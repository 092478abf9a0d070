// The simulator's log: one line per event, "<ms since start> <service> <text>", appended with
// a single write so lines of a crashed run stay whole. Bytes from the wire are escaped (CR as
// \r, LF as \n, other controls and bytes above 0x7E as \xHH) so every event stays one line.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace lumidex::lab {

class EventLog {
public:
    // Appends to path; an empty path logs to standard error.
    bool Open(const std::string& path, std::string& error);
    void Line(std::string_view service, std::string_view text);

private:
    platform::UniqueFd m_fd;
    bool m_toStderr = true;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

std::string EscapeWire(std::string_view bytes);

}  // namespace lumidex::lab
