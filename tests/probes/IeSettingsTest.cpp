// IE offline and proxy settings from fixture prefixes; the proxy connect goes to a loopback
// listener or to a connector that records what it was given, never to a name server.
#include "probes/IeSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/Diagnosis.h"
#include "support/FixturePrefix.h"
#include "support/LoopbackServer.h"

namespace lumidex {
namespace {

// A prefix whose user hive has the Internet Settings key with the given value lines (empty:
// the key is missing altogether).
class IePrefix {
public:
    explicit IePrefix(const std::string& values) {
        std::ofstream out(m_prefix.path() / "user.reg", std::ios::binary);
        out << "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000"
               "\n\n#arch=win32\n\n";
        if (!values.empty()) {
            out << "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Internet Settings] "
                   "1700000000\n"
                << values;
        }
        out.close();
        m_prefix.Activate();
    }

private:
    testing::FixturePrefix m_prefix;
};

TEST(IeSettingsTest, OfflineReadsTheFirstFourBytesAndMissingAsOnline) {
    const struct {
        std::string values;
        bool offline;
    } rows[] = {
        {"\"GlobalUserOffline\"=dword:00000001\n", true},
        {"\"GlobalUserOffline\"=dword:00000000\n", false},
        {"\"Other\"=dword:00000001\n", false},
        {"", false},
        {"\"GlobalUserOffline\"=hex:00,00,00,01\n", true},
        {"\"GlobalUserOffline\"=\"0\"\n", true},  // the text's first byte, '0', is not zero
    };
    for (const auto& row : rows) {
        IePrefix prefix(row.values);
        EXPECT_EQ(IsIEOffline(), row.offline) << row.values;
    }
}

TEST(IeSettingsTest, ProxyFlagsFollowTheSettingsAndTheConnection) {
    std::uint16_t port = 0;
    const auto listener = testing::LoopbackListener(4, port);
    std::uint16_t closedPort = 0;
    const auto notListening = testing::LoopbackListener(-1, closedPort);
    const std::string live = testing::LoopbackSite(port);
    const std::string dead = testing::LoopbackSite(closedPort);

    const struct {
        std::string values;
        bool realConnect;  // else a connector that answers true
        std::int32_t proxySet;
        std::int32_t proxyReachable;
        std::optional<std::string> tried;  // the text the connector got, if called
        std::string read;                  // the text returned
        std::string recorded;              // the real connect's recorded outcome, "" none
    } rows[] = {
        {"\"ProxyEnable\"=dword:00000000\n\"ProxyServer\"=\"" + live + "\"\n",
         true,
         0,
         0,
         {},
         "",
         ""},
        {"\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"" + live + "\"\n",
         true,
         1,
         1,
         {},
         live,
         "ok"},
        {"\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"" + dead + "\"\n",
         true,
         1,
         0,
         {},
         dead,
         "refused"},
        {"\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"\"\n", false, 1, 7, {}, "", ""},
        {"\"ProxyEnable\"=dword:00000001\n", false, 1, 7, {}, "", ""},
        {"\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"proxy.corp\"\n", false, 1, 1,
         "proxy.corp", "proxy.corp", ""},
        {"\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"http=" + live + ";ftp=" + live + "\"\n",
         false, 1, 1, "http=" + live + ";ftp=" + live, "http=" + live + ";ftp=" + live, ""},
        {"", false, 0, 0, {}, "", ""},
    };
    for (const auto& row : rows) {
        IePrefix prefix(row.values);
        std::optional<std::string> tried;
        const ProxyConnector recording = [&](const std::string& text) {
            tried = text;
            return true;
        };
        TheRunDiagnosis().Reset();
        TheRunDiagnosis().SetCurrentRow(4);
        std::int32_t proxySet = 5;
        std::int32_t proxyReachable = 7;  // stays when a proxy is set without text
        const std::string read = row.realConnect
                                     ? CheckIEProxy(proxySet, proxyReachable)
                                     : CheckIEProxy(proxySet, proxyReachable, recording);
        EXPECT_EQ(proxySet, row.proxySet) << row.values;
        EXPECT_EQ(proxyReachable, row.proxyReachable) << row.values;
        EXPECT_EQ(tried, row.tried) << row.values;
        EXPECT_EQ(read, row.read) << row.values;
        const std::vector<ProbeRecord> probes = TheRunDiagnosis().Row(4).probes;
        ASSERT_EQ(probes.size(), row.recorded.empty() ? 0u : 1u) << row.values;
        if (!row.recorded.empty()) {
            EXPECT_EQ(probes[0].kind, ProbeKind::Tcp);
            EXPECT_EQ(probes[0].target, row.read);
            EXPECT_EQ(probes[0].step, "connect");
            EXPECT_EQ(ProbeOutcomeName(probes[0].outcome), row.recorded);
            EXPECT_EQ(probes[0].rttMs.has_value(), row.recorded == "ok");
        }
    }
    TheRunDiagnosis().Reset();
}

}  // namespace
}  // namespace lumidex
