// The process-wide log and findings text as the service tests see them: the log goes to a
// scratch file with a fixed clock and is read back as UTF-8 entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "engine/FindingsText.h"
#include "platform/TextCodec.h"
#include "report/DiagLog.h"
#include "service/ServiceProbeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::testing {

class LogCapture {
public:
    LogCapture() {
        TheDiagLog().SetClock([] {
            std::tm time{};
            time.tm_year = 106;
            time.tm_mon = 4;
            time.tm_mday = 3;
            return time;
        });
        TheDiagLog().SetLevel(1);
        TheDiagLog().SetPath(m_dir / "Lumidex_log.txt");
        TheFindingsText().Reset("");
    }
    ~LogCapture() {
        TheDiagLog().SetPath("");
        TheDiagLog().SetClock({});
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The texts of the entries written so far, in order.
    std::vector<std::string> Entries() const {
        const std::string prefix = "\r\n2006-5-3 00:00:00 1 ";
        const std::string log = platform::GbkToUtf8(ReadAll(m_dir / "Lumidex_log.txt"));
        std::vector<std::string> entries;
        auto at = log.find(prefix);
        while (at != std::string::npos) {
            const auto next = log.find(prefix, at + prefix.size());
            entries.push_back(log.substr(at + prefix.size(), next - at - prefix.size()));
            at = next;
        }
        return entries;
    }
    static std::string Findings() { return TheFindingsText().Text(); }

private:
    TempDir m_dir;
};

// Base32 without fill, written apart from the product's decoder.
inline std::string Base32(const std::vector<std::uint8_t>& bytes) {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (std::uint8_t b : bytes) {
        bits = (bits << 8 | b) & 0xffff;
        count += 8;
        while (count >= 5) {
            count -= 5;
            out += alphabet[(bits >> count) & 31];
        }
    }
    if (count > 0) {
        out += alphabet[(bits << (5 - count)) & 31];
    }
    return out;
}

// The label naming servers "a.b.c.d:port", in order.
inline std::string Label(const std::vector<std::string>& servers) {
    std::vector<std::uint8_t> bytes;
    for (const std::string& server : servers) {
        unsigned a = 0, b = 0, c = 0, d = 0, port = 0;
        std::sscanf(server.c_str(), "%u.%u.%u.%u:%u", &a, &b, &c, &d, &port);
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                   static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d),
                                   static_cast<std::uint8_t>(port & 0xff),
                                   static_cast<std::uint8_t>(port >> 8)});
    }
    return Base32(bytes);
}

// Counters, progress positions and scripted stop answers of a probe run.
class RecordingProbeHost : public service::ServiceProbeHost {
public:
    RunCounters& Counters() override { return counters; }
    void SetProgressPos(int position) override { positions.push_back(position); }
    bool StopIfRequested() override {
        ++stopPolls;
        if (stopAtPoll != 0 && stopPolls == stopAtPoll) {
            stopped = true;
            return true;
        }
        return false;
    }

    RunCounters counters;
    std::vector<int> positions;
    int stopPolls = 0;
    int stopAtPoll = 0;  // answer "stop" at this poll (1-based); 0 never
    bool stopped = false;
};

}  // namespace lumidex::testing
