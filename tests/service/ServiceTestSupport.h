// What the service tests share: the process-wide log and findings text as they see them,
// address labels written apart from the product, and a probe host that records a run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/FindingsText.h"
#include "service/ServerList.h"
#include "support/LogCapture.h"
#include "support/NullReporter.h"

namespace lumidex::testing {

// The log captured and the findings text started empty, as every service test wants them.
class ServiceLogCapture : public LogCapture {
public:
    ServiceLogCapture() { TheFindingsText().Reset(""); }
    static std::string Findings() { return TheFindingsText().Text(); }
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
// "a.b.c.d:port ..." in the list's order.
inline std::string Contents(const ServerList& list) {
    std::string out;
    for (const auto& r : list.Entries()) {
        out += (out.empty() ? "" : " ") + r.address.Dotted() + ":" + std::to_string(r.port);
    }
    return out;
}

class RecordingProbeHost : public NullReporter {
public:
    void SetProgressPos(int position) override { positions.push_back(position); }
    bool StopIfRequested() override {
        ++stopPolls;
        if (stopAtPoll != 0 && stopPolls == stopAtPoll) {
            stopped = true;
            return true;
        }
        return false;
    }

    std::vector<int> positions;
    int stopPolls = 0;
    int stopAtPoll = 0;  // answer "stop" at this poll (1-based); 0 never
    bool stopped = false;
};

}  // namespace lumidex::testing
