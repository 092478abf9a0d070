// What a console run in the lab and the one-at-a-time walk of the same lab must share: the log
// without its times, and texts without the servers a random sample picked. Used by the lab's
// BothWays test and by bench_scenarios.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumidex::labtest {

// The log's lines (CR LF) without the date and time each entry starts with, and without the
// header's date line.
inline std::vector<std::string> LogLinesWithoutTimes(const std::string& log) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find("\r\n", at);
        end = end == std::string::npos ? log.size() : end;
        std::string line = log.substr(at, end - at);
        at = end + 2;
        if (line.rfind("#Date:", 0) == 0) {
            continue;
        }
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') {
            const auto dateEnd = line.find(' ');
            const auto timeEnd =
                dateEnd == std::string::npos ? dateEnd : line.find(' ', dateEnd + 1);
            line = timeEnd == std::string::npos ? std::string() : line.substr(timeEnd + 1);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// TEXT with the server number of every "向服务器N发送UDP包超时" line (in UTF-8 or in GBK) as "N".
// When the silent servers outnumber the random sample, each run names the ones its own sample
// picked, so two runs, even both one at a time, differ there and only there.
inline std::string WithoutSampledServers(std::string text) {
    for (const std::string_view before : {"向服务器", "\xcf\xf2\xb7\xfe\xce\xf1\xc6\xf7"}) {
        for (std::size_t at = text.find(before); at != std::string::npos;
             at = text.find(before, at)) {
            at += before.size();
            std::size_t end = at;
            while (end < text.size() &&
                   (text[end] == '-' || (text[end] >= '0' && text[end] <= '9'))) {
                ++end;
            }
            text.replace(at, end - at, "N");
        }
    }
    return text;
}

}  // namespace lumidex::labtest
