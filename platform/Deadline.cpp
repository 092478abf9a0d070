#include "platform/Deadline.h"

#include <algorithm>
#include <limits>

namespace lumidex::platform {

Deadline::Deadline(int totalMs, SteadyClock clock) : m_clock(std::move(clock)) {
    if (totalMs > 0) {
        m_end = Now() + std::chrono::milliseconds(totalMs);
    }
}

std::chrono::steady_clock::time_point Deadline::Now() const {
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

bool Deadline::Passed() const {
    return m_end && Now() >= *m_end;
}

int Deadline::WaitMs(int perWaitMs) const {
    if (!m_end) {
        return perWaitMs;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*m_end - Now()).count();
    const long long capped = std::clamp<long long>(left, 1, std::numeric_limits<int>::max());
    return perWaitMs > 0 ? std::min(perWaitMs, static_cast<int>(capped)) : static_cast<int>(capped);
}

}  // namespace lumidex::platform
