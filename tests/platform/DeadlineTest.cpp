// The overall bound of an exchange, on a clock the test moves by hand.
#include "platform/Deadline.h"

#include <gtest/gtest.h>

namespace lumidex::platform {
namespace {

using std::chrono::milliseconds;

TEST(DeadlineTest, CutsEachWaitToWhatIsLeftAndNeverWaitsForEver) {
    const auto start = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    auto now = start;
    const SteadyClock clock = [&] { return now; };
    const Deadline deadline(1000, clock);
    const struct {
        milliseconds at;
        int perWaitMs;
        bool passed;
        int waitMs;
    } rows[] = {
        {milliseconds(0), 300, false, 300},
        {milliseconds(800), 300, false, 200},  // what is left is less than a wait
        {milliseconds(800), 0, false, 200},    // no bound of its own: what is left
        {milliseconds(999), 300, false, 1},
        {milliseconds(1000), 300, true, 1},  // passed, yet never 0 ("for ever" to a socket)
        {milliseconds(5000), -1, true, 1},
    };
    for (const auto& row : rows) {
        now = start + row.at;
        EXPECT_EQ(deadline.Passed(), row.passed) << row.at.count();
        EXPECT_EQ(deadline.WaitMs(row.perWaitMs), row.waitMs) << row.at.count();
    }
    // Without an overall bound every wait keeps its own, whatever the clock says.
    const Deadline none(0, clock);
    now = start + std::chrono::hours(100);
    EXPECT_FALSE(none.Passed());
    EXPECT_EQ(none.WaitMs(300), 300);
    EXPECT_EQ(none.WaitMs(0), 0);
}

}  // namespace
}  // namespace lumidex::platform
