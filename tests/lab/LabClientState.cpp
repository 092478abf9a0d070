// The prefix the console read, how it found it, and the client's process it saw, in the lab.
#include <algorithm>
#include <string>

#include "LabConsoleRun.h"
#include "LabFixture.h"

namespace lumidex::labtest {
namespace {

using ClientPrefix = LabTest;

TEST_F(ClientPrefix, ThePrefixReadIsNamedWithHowItWasFound) {
    const ConsoleRun& run = RunConsoleOnce();
    ASSERT_TRUE(run.result.is_object()) << run.output;
    const Json& notes = lab().Notes();
    const std::string path = notes["prefix"].get<std::string>();
    const std::string foundBy = notes["prefixLayout"] == "bottles" ? "bottles" : "WINEPREFIX";
    const Json& prefix = run.result["wine_prefix"];
    EXPECT_EQ(prefix["path"], path);
    EXPECT_EQ(prefix["found_by"], foundBy);
    EXPECT_EQ(prefix["others"], Json::array());
    // The installation it names is where the log went.
    EXPECT_FALSE(run.log.empty());
    const ConsoleRun text = RunConsole("");
    EXPECT_EQ(text.output.rfind("Wine prefix: " + path + " (found by " + foundBy + ")\n", 0), 0u)
        << text.output;
}

using ClientRunning = LabTest;

TEST_F(ClientRunning, TheStandInClientAndItsPortAreSeen) {
    const Json& client = RunConsoleOnce().result["client"];
    EXPECT_EQ(client["running"], true) << client;
    EXPECT_TRUE(client["pid"].is_number_integer()) << client;
    const auto ports = client["udp_ports"].get<std::vector<int>>();
    EXPECT_NE(std::find(ports.begin(), ports.end(), lab().Notes()["clientUdpPort"].get<int>()),
              ports.end())
        << client;
}

}  // namespace
}  // namespace lumidex::labtest
