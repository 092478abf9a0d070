// An overall bound on one exchange with a remote host, kept beside the bound on each wait: a
// peer that sends one byte just before every wait runs out would otherwise hold the exchange
// for as long as it likes. The clock is a seam, so tests can hand in their own.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace lumidex::platform {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

class Deadline {
public:
    // Starts now. totalMs <= 0: no overall bound. clock empty: the monotonic clock.
    explicit Deadline(int totalMs, SteadyClock clock = {});

    bool Passed() const;
    // The bound for the next wait: perWaitMs (<= 0: no bound of its own) cut to what is left.
    // With an overall bound it is at least 1, never the "wait for ever" of a bound <= 0: ask
    // Passed first.
    int WaitMs(int perWaitMs) const;

private:
    std::chrono::steady_clock::time_point Now() const;

    SteadyClock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_end;
};

}  // namespace lumidex::platform
