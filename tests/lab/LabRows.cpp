// The program's verdicts in the lab: lumidex-console --json runs once per lab (every suite of
// a scenario reads the same run), and each scenario's suite asserts the rows, the findings
// and the log that its network must give.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BothWaysText.h"
#include "LabConsoleRun.h"
#include "LabFixture.h"
#include "platform/TextCodec.h"
#include "support/ResultSchema.h"

namespace lumidex::labtest {

ConsoleRun RunConsole(const std::string& args) {
    ConsoleRun out;
    const char* console = std::getenv("LUMIDEX_CONSOLE");
    if (console == nullptr) {
        return out;
    }
    const std::string command = std::string("'") + console + "' " + args;
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    out.took = std::chrono::steady_clock::now() - start;
    out.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.result = Json::parse(out.output, nullptr, false);
    const Lab& lab = Lab::Get();
    if (args.find("--json") != std::string::npos) {
        out.schemaErrors = testing::ResultSchemaErrors(out.output, lab.Dir() / "console-run.json");
    }
    out.log = platform::GbkToUtf8(
        ReadText(lab.Notes()["installDir"].get<std::string>() + "/log/Lumidex_log.txt"));
    out.simLog = ReadText(lab.Notes()["log"].get<std::string>());
    return out;
}

const ConsoleRun& RunConsoleOnce() {
    static const ConsoleRun run = RunConsole("--json");
    return run;
}

const ConsoleRun& RunOneAtATimeOnce() {
    RunConsoleOnce();
    static const ConsoleRun run = RunConsole("--json --one-at-a-time");
    return run;
}

namespace {

class LabRows : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        ASSERT_TRUE(Run().result.is_object()) << Run().output;
        ASSERT_LE(Run().exitStatus, 1) << Run().output;
    }
    static const ConsoleRun& Run() { return RunConsoleOnce(); }
    static Json Row(int id) {
        for (const Json& row : Run().result["rows"]) {
            if (row["id"] == id) {
                return row;
            }
        }
        return Json();
    }
    static void ExpectRow(int id, const char* status, const std::string& detail) {
        const Json row = Row(id);
        EXPECT_EQ(row.value("status", Json()), status) << row.dump();
        EXPECT_EQ(row.value("detail", ""), detail) << row.dump();
    }
    static bool Logged(const std::string& text) {
        return Run().log.find(text) != std::string::npos;
    }
    static bool Found(const std::string& line) {
        return Run().result.value("findings", "").find("\r\n" + line) != std::string::npos;
    }
    // Rows 1 to 7 of a computer whose network is in order.
    void ExpectHealthyNetworkRows() const {
        ExpectRow(1, "Ok", Client());
        ExpectRow(2, "Ok", "连接正常(" + Gateway() + ")");
        ExpectRow(3, "Ok", "连接正常(" + DnsText() + ")");
        ExpectRow(4, "Ok", "IE未处于脱机状态");
        ExpectRow(5, "Ok", "未设置IE代理服务器");
        ExpectRow(6, "Ok", "连接成功");
        ExpectRow(7, "Ok", "连接成功");
    }
    std::string Client() const { return lab().Notes()["client"]; }
    std::string Gateway() const { return lab().Notes()["gateway"]; }
    std::string DnsText() const {
        return lab().Notes()["dns"][0].get<std::string>() + "," +
               lab().Notes()["dns"][1].get<std::string>();
    }
};

// --- the basic network rows ---------------------------------------------------------------

using HealthyNetworkRows = LabRows;
TEST_F(HealthyNetworkRows, AllSevenOkAndTheLogHoldsStartUpAndVerdicts) {
    ExpectHealthyNetworkRows();
    EXPECT_EQ(Run().result["findings"].get<std::string>().rfind("\r\n开始基本网络检测", 0), 0u);
    // The start-up block: global parameters and every adapter, then the run's verdicts.
    for (const std::string& line :
         {std::string("主机名:"), std::string("DNS服务器IP:"),
          lab().Notes()["dns"][0].get<std::string>(), std::string("网卡信息"), "当前IP:" + Client(),
          std::string("默认网关IP:"), "本地IP:" + Client()}) {
        EXPECT_TRUE(Logged(line)) << line;
    }
}

using UnprivilegedRows = LabRows;
TEST_F(UnprivilegedRows, PingsWorkWithoutRoot) {
    ExpectHealthyNetworkRows();
}

using GatewaySilentRows = LabRows;
TEST_F(GatewaySilentRows, GatewayWarnsWithoutAFinding) {
    ExpectRow(2, "Warning", "连接超时(" + Gateway() + ")");
    EXPECT_FALSE(Found("连接超时(" + Gateway() + ")"));
}

using DnsSilentRows = LabRows;
TEST_F(DnsSilentRows, DnsWarnsAndIsReportable) {
    ExpectRow(3, "Warning", "连接超时(" + DnsText() + ")");
    EXPECT_TRUE(Found("连接超时(" + DnsText() + ")"));
    EXPECT_EQ(Run().result["reportable"], true);
}

using NoDnsRows = LabRows;
TEST_F(NoDnsRows, NoServerIsAnError) {
    ExpectRow(3, "Error", "获取DNS服务器失败");
    EXPECT_TRUE(Found("获取DNS服务器失败"));
}

using IeOfflineRows = LabRows;
TEST_F(IeOfflineRows, OfflineWarns) {
    ExpectRow(4, "Warning", "IE处于脱机状态");
    EXPECT_TRUE(Found("IE处于脱机状态"));
}

using ProxyRows = LabRows;
TEST_F(ProxyRows, ProxyVerdictFollowsTheProxy) {
    const std::string proxy = lab().Setting("PROXY");
    if (proxy == "reachable") {
        ExpectRow(5, "Ok", "IE代理服务器已设置且能连接");
        return;
    }
    ExpectRow(5, "Error", "IE代理服务器无法连接");
    EXPECT_TRUE(Found("IE代理服务器无法连接"));
}

using NoInternetRows = LabRows;
TEST_F(NoInternetRows, InternetIsAnError) {
    ExpectRow(6, "Ok", "连接成功");
    ExpectRow(7, "Error", "Internet连接中断");
    EXPECT_TRUE(Found("Internet连接中断"));
}

using NoRouteRows = LabRows;
TEST_F(NoRouteRows, AddressFromTheHostNameAndNoGateway) {
    ExpectRow(1, "Ok", Client());
    EXPECT_TRUE(Logged("CTqGlobalMothed::GetSelfIP()本地IP:" + Client()));
    ExpectRow(2, "Error", "获取默认网关失败");
}

using DialUpRows = LabRows;
TEST_F(DialUpRows, PointToPointLinkDecidesRowSix) {
    ExpectRow(6, "Ok", lab().Setting("DIALUP") == "up" ? "拨号连接成功" : "连接成功");
}

using LinkDownRows = LabRows;
TEST_F(LinkDownRows, BrokenConnectionAndNoInternet) {
    ExpectRow(6, "Error", "本地连接中断");
    ExpectRow(7, "Error", "Internet连接中断");
    EXPECT_EQ(Run().exitStatus, 1);
}

// --- the basic software rows --------------------------------------------------------------

struct SoftwareRow {
    int id;
    std::string status;
    std::string detail;
};

void ExpectSoftwareRows(const Json& result, const std::vector<SoftwareRow>& expected) {
    ASSERT_TRUE(result.is_object() && result.contains("rows")) << result.dump();
    for (const SoftwareRow& row : expected) {
        const auto found = std::find_if(result["rows"].begin(), result["rows"].end(),
                                        [&](const Json& r) { return r["id"] == row.id; });
        ASSERT_NE(found, result["rows"].end()) << row.id;
        EXPECT_EQ((*found)["status"], row.status) << row.id;
        EXPECT_EQ((*found)["detail"], row.detail) << row.id;
    }
    EXPECT_EQ(std::count_if(result["rows"].begin(), result["rows"].end(),
                            [](const Json& r) { return r["id"] == 12; }),
              0);
}

std::string SystemPrettyName() {
    const std::string release = ReadText("/etc/os-release");
    const auto at = release.find("PRETTY_NAME=");
    if (at == std::string::npos) {
        return {};
    }
    std::string name = release.substr(at + 12, release.find('\n', at) - at - 12);
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'')) {
        name = name.substr(1, name.size() - 2);
    }
    return name;
}

constexpr char kWmpCommand[] =
    "\"C:\\Program Files\\Windows Media Player\\wmplayer.exe\" /prefetch:1";

using SoftwareHealthyRows = LabRows;
TEST_F(SoftwareHealthyRows, SystemPlayerAndAssociationsAreOk) {
    const Json& result = Run().result;
    ExpectSoftwareRows(result, {{8, "Ok", SystemPrettyName()},
                                {9, "Ok", "10.0.0.3802"},
                                {10, "Ok", "已与WMP关联"},
                                {11, "Ok", "已与WMP关联"}});
    EXPECT_NE(result["findings"].get<std::string>().find("\r\nWMP版本号:10.0.0.3802"),
              std::string::npos);
}

using SoftwareWmp8Rows = LabRows;
TEST_F(SoftwareWmp8Rows, OldPlayerIsAWarningCountedAsAnErrorToo) {
    const Json& result = Run().result;
    ExpectSoftwareRows(result, {{9, "Warning", "8.0.0.4477"}, {10, "Ok", "已与WMP关联"}});
    EXPECT_NE(result["findings"].get<std::string>().find(
                  "\r\n版本号低于9，请下载WMP9以上版本。您安装的WMP版本号:8.0.0.4477"),
              std::string::npos);
    EXPECT_GE(result["errors"].get<int>(), 1);
}

using SoftwareNoWmpRows = LabRows;
TEST_F(SoftwareNoWmpRows, NoPlayerAndItsAssociationsNameTheirProgram) {
    const Json& result = Run().result;
    ExpectSoftwareRows(result, {{9, "Warning", ""},
                                {10, "Warning", std::string("关联程序:") + kWmpCommand},
                                {11, "Warning", std::string("关联程序:") + kWmpCommand}});
    EXPECT_NE(result["findings"].get<std::string>().find("WMP版本号:\r\n"), std::string::npos);
}

using SoftwareAsxOtherRows = LabRows;
TEST_F(SoftwareAsxOtherRows, AsxNamesTheOtherPlayer) {
    const Json& result = Run().result;
    ExpectSoftwareRows(
        result,
        {{10, "Ok", "已与WMP关联"},
         {11, "Warning", "关联程序:\"C:\\Program Files\\Other Player\\player.exe\" \"%1\""}});
    EXPECT_NE(result["findings"].get<std::string>().find("\r\nasx文件关联程序:关联程序:"),
              std::string::npos);
}

using SoftwareNoAsfRows = LabRows;
TEST_F(SoftwareNoAsfRows, AsfWithoutProgramIsAReportableError) {
    const Json& result = Run().result;
    ExpectSoftwareRows(result, {{10, "Error", "asf文件没有关联"}, {11, "Ok", "已与WMP关联"}});
    EXPECT_NE(result["findings"].get<std::string>().find("\r\nasf文件没有关联"), std::string::npos);
    EXPECT_TRUE(result["reportable"].get<bool>());
}

// --- the service rows ---------------------------------------------------------------------

struct ServiceExpectation {
    std::vector<std::tuple<int, std::string, std::string>> rows;  // id, status, detail
    std::vector<std::string> findings;                            // lines without "\r\n"
    std::vector<std::string> absentFindings;
};

const std::string kListError = "请求频道列表文件时发生错误";

// What rows 13 to 18 show in each scenario of the service side.
const std::map<std::string, ServiceExpectation>& ServiceExpectations() {
    static const std::map<std::string, ServiceExpectation> table = [] {
        const std::tuple<int, std::string, std::string> hostsOk{13, "Ok", "正常"};
        const auto all = [](int id) {
            return std::tuple<int, std::string, std::string>{id, "Ok", "正常连接:100%"};
        };
        const auto none = [](int id) {
            return std::tuple<int, std::string, std::string>{id, "Error", "正常连接:0%"};
        };
        std::map<std::string, ServiceExpectation> t;
        t["healthy"] = {{hostsOk, all(14), all(15), all(16), all(17), all(18)},
                        {"开始KLV主要域名检测", "检测频道服务器", "tracker(目录)频道服务"},
                        {kListError}};
        t["gateway-slow"] = t["healthy"];
        t["channel-list-chunked"] = t["healthy"];
        t["nxdomain-hijack"] = t["healthy"];
        t["portal-false-friend"] = t["healthy"];
        t["dns-search-wildcard"] = t["healthy"];
        // Every host takes the connection and the ping, and the list is the portal's 302.
        t["captive-portal"] = {
            {hostsOk, all(14), all(15), all(16), none(17), none(18)}, {kListError}, {}};
        t["portal-gbk"] = t["captive-portal"];
        t["channel-list-until-close"] = t["healthy"];
        // The list is not had: no server is known in a fresh process.
        for (const char* name :
             {"channel-list-404", "channel-list-garbage", "channel-list-silent"}) {
            t[name] = {{hostsOk, all(14), none(17), none(18)}, {kListError}, {}};
        }
        t["channel-list-malformed"] = {{hostsOk, none(17), none(18)}, {}, {kListError}};
        // The list's bound ends the dripping body: a 200 with a cut list, judged as after a
        // failed receive, so no server is known and no download error is reported.
        t["channel-list-drip"] = {{hostsOk, all(14), none(17), none(18)}, {}, {kListError}};
        t["trackers-silent"] = {{all(17), none(18)}, {}, {}};
        t["channel-servers-silent"] = {{none(17), all(18)}, {}, {}};
        // ok and late answer (the late reply lands during the second attempt); of 8 and 6.
        t["udp-misbehaving"] = {{{17, "Ok", "正常连接:25%"}, {18, "Ok", "正常连接:33%"}}, {}, {}};
        t["services-down"] = {{none(14), none(15), none(16), all(17)},
                              {"连接失败:www.kelvora.com", "连接失败:search.kelvora.com"},
                              {}};
        t["hosts-hijacked"] = {
            {{13, "Error", "\r\n映射错误:127.0.0.1<->channel.kelvora.com"},
             {14, "Ok", "正常连接:67%"},
             none(17),
             none(18)},
            {"KLV映射:203.0.113.99<->www.kelvora.com", kListError, "连接失败:www.kelvora.com"},
            {}};
        // Nothing past the gateway answers; names still resolve, so every host is waited for.
        t["all-silent"] = {{{2, "Warning", "连接超时(198.18.0.1)"},
                            {3, "Warning", "连接超时(198.18.53.1,198.18.53.2)"},
                            {7, "Error", "Internet连接中断"},
                            hostsOk,
                            none(14),
                            none(15),
                            none(16),
                            none(17),
                            none(18)},
                           {"连接超时(198.18.53.1,198.18.53.2)", "Internet连接中断", kListError,
                            "连接失败:www.kelvora.com", "连接失败:tvguide.kelvora.com"},
                           {"连接超时(198.18.0.1)"}};
        return t;
    }();
    return table;
}

using ServiceRows = LabRows;
TEST_F(ServiceRows, RowsAndFindingsOfTheScenario) {
    const char* scenario = std::getenv("LAB_SCENARIO");
    ASSERT_NE(scenario, nullptr);
    const auto found = ServiceExpectations().find(scenario);
    ASSERT_NE(found, ServiceExpectations().end()) << "no expectation for " << scenario;
    for (const auto& [id, status, detail] : found->second.rows) {
        ExpectRow(id, status.c_str(), detail);
    }
    for (const std::string& line : found->second.findings) {
        EXPECT_TRUE(Found(line)) << line << "\n" << Run().result["findings"];
    }
    for (const std::string& line : found->second.absentFindings) {
        EXPECT_FALSE(Found(line)) << line;
    }
}

// A list host that drips holds the run no longer than the list's bound on the whole exchange.
TEST_F(ServiceRows, DrippingListHostEndsTheRunWithinAMinute) {
    if (lab().Notes()["scenario"] != "channel-list-drip") {
        GTEST_SKIP() << "the dripping list host only";
    }
    EXPECT_LT(Run().took, std::chrono::minutes(1));
}

// The whole healthy run, and what the far side received, byte for byte.
TEST_F(ServiceRows, HealthyRunIsCleanAndTheWireCarriesTheExactRequests) {
    if (lab().Notes()["scenario"] != "healthy") {
        GTEST_SKIP() << "the healthy lab only";
    }
    EXPECT_EQ(Run().exitStatus, 0);
    const std::string summary = Run().result["summary"];
    for (const char* line : {"已经检测17项", "警告0项", "错误0项"}) {
        EXPECT_NE(summary.find(line), std::string::npos) << line << summary;
    }
    const std::string& simLog = Run().simLog;
    EXPECT_NE(simLog.find("request from " + Client() + ":"), std::string::npos);
    EXPECT_NE(simLog.find(": GET /channels.htm.xml HTTP/1.1\\r\\nAccept: */*\\r\\nAccept-Encoding: "
                          "gzip, deflate\\r\\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; "
                          "Windows NT 5.0; MyIE2; Alexa Toolbar)\\r\\nHost: channel.kelvora.com"
                          "\\r\\nConnection: Keep-Alive\\r\\n\\r\\n\n"),
              std::string::npos);
    // Every probe datagram: length 12, signature 0x43, type 7, the server's address and port
    // (little-endian), as the simulator logs them in hex. The program probes once the channel
    // list is in, i.e. after its own request for the list (the lab's own checks ask with other
    // header fields, and earlier runs come before), from one socket or, side by side, one per
    // server.
    const std::size_t programStart = simLog.rfind(
        ": GET /channels.htm.xml HTTP/1.1\\r\\nAccept: */*"
        "\\r\\nAccept-Encoding");
    ASSERT_NE(programStart, std::string::npos);
    std::map<std::string, std::set<std::string>> targetsBySource;
    std::istringstream lines(simLog.substr(programStart));
    for (std::string line; std::getline(lines, line);) {
        const auto from = line.find(" request from ");
        const auto bytes = line.find(" 12 bytes ");
        if (from == std::string::npos || bytes == std::string::npos) {
            continue;
        }
        const auto targetStart = line.find(' ', line.find(' ') + 1) + 1;
        const std::string target = line.substr(targetStart, from - targetStart);
        const std::string source = line.substr(from + 14, bytes - from - 14);
        unsigned a = 0, b = 0, c = 0, d = 0, port = 0;
        ASSERT_EQ(std::sscanf(target.c_str(), "%u.%u.%u.%u:%u", &a, &b, &c, &d, &port), 5) << line;
        char expected[32];
        std::snprintf(expected, sizeof expected, "0c0043000007%02x%02x%02x%02x%02x%02x", a, b, c, d,
                      port & 0xFF, port >> 8);
        EXPECT_EQ(line.substr(bytes + 10, 24), expected) << line;
        targetsBySource[source].insert(target);
    }
    std::set<std::string> sampled;
    for (const auto& [source, targets] : targetsBySource) {
        sampled.insert(targets.begin(), targets.end());
    }
    EXPECT_EQ(sampled.size(), 8u + 6u) << "a sample of 8 channel servers and 6 trackers";
}

// --- both ways ----------------------------------------------------------------------------

// Scenarios where the one-at-a-time run is not made on every test run, each with the reason.
// Their one-at-a-time walk is still compared by bench/bench_scenarios.
const std::map<std::string, std::string>& NotComparedHere() {
    static const std::map<std::string, std::string> table = {
        {"services-down",
         "its one-at-a-time run waits about two minutes (five dropped information hosts, five "
         "list hosts ignoring pings); all-silent compares those same waits, and bench_scenarios "
         "compares this scenario, its refusing web sites included"},
        {"path-provider-break",
         "everything past a router is silent: its one-at-a-time run waits "
         "as all-silent's does, which compares those waits"},
        {"path-local-break",
         "everything past the client's router is silent: its one-at-a-time "
         "run waits as all-silent's does, which compares those waits"},
        {"path-service-silent",
         "the service hosts are dropped as in services-down, whose "
         "one-at-a-time run waits about two minutes"},
        {"path-wifi-loss", "a lossy link: which single datagrams are lost differs from run to run"},
    };
    return table;
}

// Scenarios whose silent servers outnumber the random sample: there the numbers of the
// servers each run's sample picked are left out; how many such lines, in which order and with
// which attempt count, are still compared.
const std::set<std::string> kSampleNamesItsServers = {"trackers-silent", "channel-servers-silent",
                                                      "p2p-udp-blocked"};

// The rows as both walks must give them, each row's probes as the distinct "kind step outcome"
// they hold: a probe's time is the run's own, and a probe nobody waited for (a public site still
// connecting when enough sites had answered) is left out of a run's records. Where a random
// sample picks the servers, the servers rows 17 and 18 probed are the sample's own too.
Json RowsWithoutTimes(Json rows, bool sampled) {
    for (Json& row : rows) {
        if (!row.is_object() || !row.contains("probes")) {
            continue;
        }
        std::set<std::string> held;
        for (const Json& probe : row["probes"]) {
            held.insert(probe.value("kind", "") + " " + probe.value("step", "") + " " +
                        probe.value("outcome", ""));
        }
        row["probes"] = Json(std::vector<std::string>(held.begin(), held.end()));
        if (sampled && (row["id"] == 17 || row["id"] == 18)) {
            for (Json& problem : row["problems"]) {
                problem.erase("targets");
            }
        }
    }
    return rows;
}

// The concurrent probes change nothing but time: the run of this lab's scenario and the
// one-at-a-time walk in the same lab show the same rows (with their problems and probes),
// findings, counters and log lines.
using BothWays = LabRows;
TEST_F(BothWays, OneAtATimeWalkGivesTheSameRowsFindingsAndLog) {
    const std::string scenario = lab().Notes()["scenario"];
    if (const auto skip = NotComparedHere().find(scenario); skip != NotComparedHere().end()) {
        GTEST_SKIP() << skip->second;
    }
    const ConsoleRun& oneAtATime = RunOneAtATimeOnce();
    ASSERT_TRUE(oneAtATime.result.is_object()) << oneAtATime.output;
    EXPECT_EQ(oneAtATime.schemaErrors, "");
    const bool sampled = kSampleNamesItsServers.count(scenario) > 0;
    const auto comparable = [&](const Json& value) {
        if (value.is_array()) {
            return RowsWithoutTimes(value, sampled);
        }
        return sampled && value.is_string() ? Json(WithoutSampledServers(value)) : value;
    };
    EXPECT_EQ(oneAtATime.exitStatus, Run().exitStatus);
    for (const char* key : {"rows", "findings", "summary", "reportable", "submit_enabled"}) {
        EXPECT_EQ(comparable(oneAtATime.result[key]), comparable(Run().result[key])) << key;
    }
    const auto walked =
        LogLinesWithoutTimes(sampled ? WithoutSampledServers(oneAtATime.log) : oneAtATime.log);
    const auto concurrent =
        LogLinesWithoutTimes(sampled ? WithoutSampledServers(Run().log) : Run().log);
    EXPECT_EQ(walked.size(), concurrent.size());
    for (std::size_t i = 0; i < std::min(walked.size(), concurrent.size()); ++i) {
        ASSERT_EQ(walked[i], concurrent[i]) << "log line " << i + 1;
    }
}

}  // namespace
}  // namespace lumidex::labtest
