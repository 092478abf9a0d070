// The desktop's verdict as Lumidex reads it in the lab: NetworkManager's stand-in on the
// client's private system bus in each state the scenario gives it, a bus without it, one where
// it never answers, and no bus at all.
#include <chrono>
#include <map>
#include <string>

#include "LabConsoleRun.h"
#include "LabFixture.h"
#include "support/RunProcess.h"

namespace lumidex::labtest {
namespace {

using DesktopVerdict = LabTest;

TEST_F(DesktopVerdict, ReadsTheStateOrSaysAbsentWithinTheBound) {
    const std::string mode = lab().Setting("NM_CONNECTIVITY");
    const std::map<std::string, std::string> absent = {
        {"no-bus", "absent (no system bus)"},
        {"no-service", "absent (NetworkManager is not on the bus)"},
        {"silent", "absent (no answer in time)"},
    };
    // Every other setting is a state the stand-in reports, by its own name.
    const std::string expected = absent.count(mode) ? absent.at(mode) : mode;

    const auto start = std::chrono::steady_clock::now();
    const auto read =
        testing::RunProcess(LUMIDEX_NM_CONNECTIVITY, {}, {}, std::chrono::seconds(10));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, expected + "\n") << mode;
    // The reading is bounded to half a second; this only guards against a wait far past it.
    EXPECT_LT(took, std::chrono::seconds(2)) << mode;

    // A run reports the same verdict beside its rows, or none where the desktop said nothing.
    const ConsoleRun& run = RunConsoleOnce();
    ASSERT_TRUE(run.result.is_object()) << run.output;
    if (absent.count(mode)) {
        EXPECT_FALSE(run.result.contains("desktop_connectivity")) << mode;
    } else {
        EXPECT_EQ(run.result.value("desktop_connectivity", ""), mode);
    }
}

}  // namespace
}  // namespace lumidex::labtest
