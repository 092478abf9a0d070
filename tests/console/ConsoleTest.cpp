// lumidex-console as a user and the lab run it: a separate process with its own Wine
// prefix and its own single-instance directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "console/ConsoleOptions.h"
#include "console/ConsoleOutput.h"
#include "engine/CheckItem.h"
#include "engine/Endpoints.h"
#include "platform/InstanceGuard.h"
#include "report/ReportBody.h"
#include "report/ReportPreview.h"
#include "startup/LumidexApp.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"
#include "support/ResultSchema.h"
#include "support/RunProcess.h"

namespace lumidex {
namespace {

using testing::FixturePrefix;
using testing::RunProcess;
using testing::TempDir;

// The exit status of isolated-run when no namespace can be made here.
constexpr int kNoIsolation = 77;

class ConsoleTest : public ::testing::Test {
protected:
    // A check run probes the network, so it runs where the only network is a private
    // loopback: nothing it sends can leave.
    testing::ProcessResult Run(const std::vector<std::string>& args) {
        std::vector<std::string> command = {LUMIDEX_CONSOLE_PATH};
        command.insert(command.end(), args.begin(), args.end());
        return RunProcess(
            LUMIDEX_ISOLATED_RUN, command,
            {{"WINEPREFIX", prefix.path().string()}, {"XDG_RUNTIME_DIR", runtime.path().string()}});
    }
    // What starts no check (help, usage errors, the endpoint list) runs as it is.
    testing::ProcessResult RunDirect(const std::vector<std::string>& args) {
        return RunProcess(LUMIDEX_CONSOLE_PATH, args, {});
    }

    FixturePrefix prefix;
    TempDir runtime;
};

#define SKIP_WITHOUT_ISOLATION(run)                                              \
    if ((run).exitCode == kNoIsolation) {                                        \
        GTEST_SKIP() << "no network namespace can be made here for a check run"; \
    }

TEST_F(ConsoleTest, JsonHasEveryRowInTableOrderAndTheSummary) {
    const auto run = Run({"--json"});
    SKIP_WITHOUT_ISOLATION(run);
    // Nothing answers in an empty network: errors are found.
    ASSERT_EQ(run.exitCode, 1) << run.err;
    const auto result = nlohmann::json::parse(run.out);
    EXPECT_EQ(testing::ResultSchemaErrors(run.out, runtime.path() / "result.json"), "");

    const auto& rows = result.at("rows");
    ASSERT_EQ(rows.size(), 19u);
    size_t index = 0;
    for (const CheckItem& item : CheckItemTable()) {
        if (item.id == kXpSp2PatchItemId) {
            continue;
        }
        const auto& row = rows.at(index++);
        EXPECT_EQ(row.at("id"), item.id);
        if (item.id == kSeparatorId) {
            EXPECT_EQ(row.at("name"), "----------");
            EXPECT_TRUE(row.at("status").is_null());
            EXPECT_EQ(row.at("detail"), "");
        } else {
            EXPECT_EQ(row.at("name"), item.name);
            EXPECT_NE(row.at("status"), "NotChecked") << row;
        }
    }
    EXPECT_EQ(result.at("total"), 17);
    EXPECT_EQ(result.at("checked"), 17);
    EXPECT_EQ(
        result.at("summary"),
        "\r\n\r\n----------------------------\r\n[检测结束]\r\n\r\n共有17顶\r\n已经检测17项\r\n"
        "警告" +
            std::to_string(result.at("warnings").get<int>()) + "项\r\n错误" +
            std::to_string(result.at("errors").get<int>()) + "项");
    EXPECT_GT(result.at("errors"), 0);
    EXPECT_EQ(result.at("submit_enabled"), true) << "errors worth reporting were found";
    EXPECT_EQ(result.at("findings").get<std::string>().rfind("\r\n开始基本网络检测", 0), 0u);
    EXPECT_EQ(result.at("log_path"), "") << "no product installed, no log";
    EXPECT_EQ(result.at("wine_prefix").at("path"), prefix.path().string());
    EXPECT_EQ(result.at("wine_prefix").at("found_by"), "WINEPREFIX");
    EXPECT_EQ(result.at("client").at("running"), false);
    EXPECT_EQ(rows.at(8).at("problems").at(0).at("code"), "client_prefix_not_found");
}

TEST_F(ConsoleTest, PlainOutputHasNoEscapeCodes) {
    const auto run = Run({});
    SKIP_WITHOUT_ISOLATION(run);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("本地IP  [Error]  获取本地IP失败"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("共有17顶\n已经检测17项\n"), std::string::npos) << run.out;
    EXPECT_EQ(
        run.out.rfind("Wine prefix: " + prefix.path().string() + " (found by WINEPREFIX)\n", 0), 0u)
        << run.out;
}

// A path is outside bytes: one that is not UTF-8 reaches the JSON replaced, never raw.
TEST(ConsoleOutputTest, PrefixOfAnyBytesPrintsAsUtf8) {
    PrefixChoice choice;
    choice.path = "/home/u/\xB0\xD7/pfx";
    choice.foundBy = PrefixSource::Lutris;
    choice.others = {"/o"};
    choice.skipped = {{"/s", "symlink loop"}};
    const nlohmann::json json = PrefixToJson(choice);
    EXPECT_EQ(json.dump(),
              "{\"found_by\":\"lutris\",\"others\":[\"/o\"],\"path\":\"/home/u/"
              "\xEF\xBF\xBD\xEF\xBF\xBD/pfx\",\"skipped\":[{\"path\":\"/s\",\"reason\":\"symlink "
              "loop\"}]}");
    EXPECT_EQ(FormatPrefixText(choice),
              "Wine prefix: /home/u/\xEF\xBF\xBD\xEF\xBF\xBD/pfx (found by lutris)\n"
              "  it does not hold the Kelvora client\n"
              "  the client is also in /o\n"
              "  passed over /s: symlink loop\n");
    platform::ClientProcess client;
    EXPECT_EQ(ClientToJson(client).dump(),
              R"({"pid":null,"running":false,"tcp_ports":[],"udp_ports":[]})");
}

// The P2P block in the text, its next steps in "建议", and the JSON the schema accepts.
TEST(ConsoleOutputTest, P2pBlockInTextAdviceAndJson) {
    P2pObservations behindTwoNats;
    behindTwoNats.stun.local = TransportAddress{"192.168.1.20", 40000};
    behindTwoNats.stun.mapped1 = TransportAddress{"203.1.113.7", 40000};
    behindTwoNats.stun.mapped2 = behindTwoNats.stun.mapped1;
    behindTwoNats.portMapping = {
        {PortMappingProtocol::Upnp, true, true, "10.0.0.2", false, "connected"},
        {PortMappingProtocol::NatPmp, false, false, "", false, "no answer"}};
    behindTwoNats.hopPastGateway = "100.64.0.1";
    behindTwoNats.ipv6.globalAddress = "2001:db8::5";
    behindTwoNats.ipv6.udpAnswered = false;
    behindTwoNats.probes = {
        {ProbeKind::Stun, "stun1.example:3478", ProbeOutcome::Ok, 12.5, "answer"}};
    P2pObservations open;
    open.stun.local = TransportAddress{"203.1.113.7", 40000};
    open.stun.mapped1 = open.stun.local;
    const struct {
        const char* name;
        P2pObservations observations;
        std::string text;
        std::vector<std::string> adviceCodes;
    } cases[] = {
        {"double and carrier-grade NAT",
         behindTwoNats,
         "P2P连通性\n- 结论: 中等 (moderate)\n- NAT映射: endpoint_independent, 过滤: unknown\n"
         "- 外网地址: 203.1.113.7:40000\n"
         "- 端口映射 upnp: 可用, 外网地址 10.0.0.2 (connected)\n"
         "- 端口映射 nat-pmp: 不可用 (no answer)\n- 双重NAT\n- 运营商级NAT\n"
         "- IPv6: 2001:db8::5, UDP不通\n",
         {"double_nat", "carrier_grade_nat"}},
        {"no NAT",
         open,
         "P2P连通性\n- 结论: 开放 (open)\n- NAT映射: none, 过滤: unknown\n"
         "- 外网地址: 203.1.113.7:40000\n- IPv6: 无公网地址\n",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckListModel model;
        model.Rebuild(false);
        RunResult result;
        result.rows = &model;
        result.version = "1.0";
        result.startedAt = "2026-12-07T17:30:00Z";
        result.p2p = DecideP2p(c.observations, true);
        EXPECT_EQ(FormatP2pText(*result.p2p), c.text);
        const std::string out = FormatResultText(result, "notes");
        EXPECT_NE(out.find("notes\n\n" + c.text), std::string::npos) << out;
        const std::size_t adviceBlock = out.find("\n建议\n");
        EXPECT_EQ(adviceBlock == std::string::npos, c.adviceCodes.empty()) << out;
        for (const std::string& code : c.adviceCodes) {
            const std::size_t at =
                out.find("- " + std::string(InfoOf(*ProblemCodeFromName(code)).advice));
            EXPECT_NE(at, std::string::npos) << code;
            EXPECT_GT(at, adviceBlock) << code;
        }

        const nlohmann::json json = ResultToJson(result);
        const nlohmann::json& p2p = json.at("p2p");
        EXPECT_EQ(p2p.at("verdict"), P2pVerdictName(result.p2p->verdict));
        EXPECT_EQ(p2p.at("mapped_address"), "203.1.113.7:40000");
        EXPECT_EQ(p2p.at("problems").size(), c.adviceCodes.size());
        TempDir dir;
        EXPECT_EQ(testing::ResultSchemaErrors(FormatJson(json), dir.path() / "p2p.json"), "");
    }
    RunResult stopped;
    CheckListModel model;
    stopped.rows = &model;
    EXPECT_FALSE(ResultToJson(stopped).contains("p2p"));
}

// The path block after the P2P block, its next steps in "建议", and the JSON the schema accepts.
TEST(ConsoleOutputTest, PathBlockInTextAdviceAndJson) {
    PathObservations broken;
    broken.gatewayAddress = "192.168.1.1";
    broken.gateway = BurstSamples{"192.168.1.1", 20, std::vector<double>(18, 2.0)};
    broken.udp = {BurstSamples{"198.51.100.1:7000", 20, {30, 34, 30, 34}}};
    broken.traces = {
        PathTrace{"203.0.113.5",
                  false,
                  {TraceHop{1, "192.168.1.1", 3, 3, 1.5}, TraceHop{2, "100.64.0.1", 3, 3, 8.0},
                   TraceHop{3, std::nullopt, 3, 0, std::nullopt}}}};
    broken.probes = {{ProbeKind::Icmp, "192.168.1.1", ProbeOutcome::Ok, 2.0, "burst"}};
    PathObservations healthy;
    healthy.gatewayAddress = "192.168.1.1";
    healthy.gateway = BurstSamples{"192.168.1.1", 20, std::vector<double>(20, 2.0)};
    const struct {
        const char* name;
        PathObservations observations;
        std::string text;
        std::vector<std::string> adviceCodes;
    } cases[] = {
        {"gateway loss, service loss, a break at the provider",
         broken,
         "线路质量\n- 网关 192.168.1.1: 发送20, 收到18, 丢包10%, 延迟中位2.0ms, P95 2.0ms, "
         "抖动0.0ms\n- UDP 198.51.100.1:7000: 发送20, 收到4, 丢包80%, 延迟中位32.0ms, P95 "
         "34.0ms, 抖动4.0ms\n- 到 203.0.113.5 的线路断在第2跳 100.64.0.1 (运营商)\n",
         {"local_link_loss", "udp_packet_loss", "path_breaks_at_provider"}},
        {"healthy",
         healthy,
         "线路质量\n- 网关 192.168.1.1: 发送20, 收到20, 丢包0%, 延迟中位2.0ms, P95 2.0ms, "
         "抖动0.0ms\n",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckListModel model;
        model.Rebuild(false);
        RunResult result;
        result.rows = &model;
        result.version = "1.0";
        result.startedAt = "2026-12-07T17:30:00Z";
        result.p2p = DecideP2p({}, true);
        result.path = DecidePath(c.observations);
        EXPECT_EQ(FormatPathText(*result.path), c.text);
        const std::string out = FormatResultText(result, "notes");
        EXPECT_NE(out.find(FormatP2pText(*result.p2p) + "\n" + c.text), std::string::npos) << out;
        const std::size_t adviceBlock = out.find("\n建议\n");
        for (const std::string& code : c.adviceCodes) {
            const std::size_t at =
                out.find("- " + std::string(InfoOf(*ProblemCodeFromName(code)).advice));
            EXPECT_NE(at, std::string::npos) << code;
            EXPECT_GT(at, adviceBlock) << code;
        }

        const nlohmann::json json = ResultToJson(result);
        const nlohmann::json& path = json.at("path");
        EXPECT_EQ(path.at("gateway").at("received"), result.path->gateway->received);
        EXPECT_EQ(path.at("udp").size(), c.observations.udp.size());
        EXPECT_EQ(path.at("problems").size(), c.adviceCodes.size());
        TempDir dir;
        EXPECT_EQ(testing::ResultSchemaErrors(FormatJson(json), dir.path() / "path.json"), "");
    }
    RunResult stopped;
    CheckListModel model;
    stopped.rows = &model;
    EXPECT_FALSE(ResultToJson(stopped).contains("path"));
}

// A run without DNS: the advice names the one cause and what it explains, the JSON every
// problem with what explains it.
TEST(ConsoleOutputTest, AdviceAndJsonNameThePrimaryCauseFirst) {
    CheckListModel model;
    model.Rebuild(false);
    RunResult result;
    result.rows = &model;
    result.version = "1.0.0";
    result.startedAt = "2026-12-07T17:30:00Z";
    result.diagnosis.resize(static_cast<std::size_t>(model.RowCount()));
    const auto add = [&](int itemId, Problem problem) {
        const auto& rows = model.Rows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].id == itemId) {
                result.diagnosis[i].problems.push_back(std::move(problem));
            }
        }
    };
    add(3, MakeProblem(ProblemCode::DnsNotConfigured));
    add(8, MakeProblem(ProblemCode::ClientNotRunning));
    add(14, MakeProblem(ProblemCode::DnsNotResolving, {"www.kelvora.com"}));
    add(14, MakeProblem(ProblemCode::WebHostsUnreachable, {"www.kelvora.com"}));
    add(17, MakeProblem(ProblemCode::NoChannelServersListed));

    const auto step = [](ProblemCode code) { return std::string(InfoOf(code).advice); };
    EXPECT_EQ(FormatAdviceBlock(result), "建议\n主要原因\n- " +
                                             step(ProblemCode::DnsNotConfigured) +
                                             "\n  另有3个问题由此引起\n其他问题\n- " +
                                             step(ProblemCode::ClientNotRunning) + "\n");

    const nlohmann::json json = ResultToJson(result);
    EXPECT_EQ(json.at("diagnosis").dump(),
              R"({"explained":3,"primary":[{"code":"dns_not_configured","row":3,"targets":[]}]})");
    std::map<std::string, std::string> causedBy;
    for (const auto& row : json.at("rows")) {
        for (const auto& problem : row.at("problems")) {
            causedBy[problem.at("code")] = problem.value("caused_by", "-");
        }
    }
    const std::map<std::string, std::string> expected = {
        {"dns_not_configured", "-"},
        {"client_not_running", "-"},
        {"dns_not_resolving", "dns_not_configured"},
        {"web_hosts_unreachable", "dns_not_resolving"},
        {"no_channel_servers_listed", "dns_not_resolving"}};
    EXPECT_EQ(causedBy, expected);
    TempDir dir;
    EXPECT_EQ(testing::ResultSchemaErrors(FormatJson(json), dir.path() / "result.json"), "");

    // Nothing found, nothing advised.
    RunResult healthy;
    healthy.rows = &model;
    EXPECT_EQ(FormatAdviceBlock(healthy), "");
}

TEST_F(ConsoleTest, ArgumentsOtherThanTheKnownOnesAreAUsageError) {
    for (const std::string bad : {"--bogus", "check", "-j", "--dry-run"}) {
        const auto run = RunDirect({bad});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("Usage:"), std::string::npos);
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_NE(RunDirect({"--dry-run"}).err.find("--dry-run goes with --submit"), std::string::npos);
    EXPECT_EQ(RunDirect({"--help"}).exitCode, 0);
    const auto version = RunDirect({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("lumidex-console "), std::string::npos);
}

// The report a run would send, shown instead of sent: the text is the shared preview of the
// body the run builds (the window's button shows the same), and no outcome is reported.
TEST_F(ConsoleTest, SubmitDryRunPrintsTheDecodedRequestInsteadOfSending) {
    const auto run = Run({"--json", "--submit", "--dry-run", "--qq=1&2", "--note", "一\n100%"});
    SKIP_WITHOUT_ISOLATION(run);
    ASSERT_EQ(run.exitCode, 1) << run.err;  // errors found; nothing sent, so nothing failed
    const auto result = nlohmann::json::parse(run.out);
    ContactDetails contact;
    contact.qq = "1&2";
    contact.note = "一\n100%";
    EXPECT_EQ(run.err,
              FormatReportPreview(BuildReportBody(LocalHostName(), result.at("findings"), contact),
                                  endpoints::kReportUrl));
    EXPECT_EQ(run.err.rfind("POST /bbs?nm=%B4%ED%CE%F3%D5%EF%B6%CF%B1%A8%B8%E6 HTTP/1.1\n", 0), 0u);
    EXPECT_NE(run.err.find("\nco=\n开始基本网络检测\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\nQQ=1&2\n"), std::string::npos);
    EXPECT_NE(run.err.find("\n描述信息=一\n100%\n\nbody: "), std::string::npos);
    EXPECT_EQ(run.err.find(kSubmitFailed), std::string::npos);
}

TEST_F(ConsoleTest, EndpointsListEveryRoleOnce) {
    const auto run = RunDirect({"--endpoints", "--json"});
    ASSERT_EQ(run.exitCode, 0);
    const auto list = nlohmann::json::parse(run.out).at("endpoints");
    std::map<std::string, int> roles;
    for (const auto& endpoint : list) {
        ++roles[endpoint.at("role").get<std::string>()];
        EXPECT_FALSE(endpoint.at("host").get<std::string>().empty());
    }
    EXPECT_EQ(roles["website"], 3);
    EXPECT_EQ(roles["list"], 5);
    EXPECT_EQ(roles["information"], 5);
    EXPECT_EQ(roles["public-site"], 10);
    EXPECT_EQ(roles["channel-list"], 1);
    EXPECT_EQ(roles["report"], 1);
    EXPECT_GE(roles["stun"], 4);
}

TEST_F(ConsoleTest, SecondCopyIsRefusedWhileTheFirstRuns) {
    auto first = platform::InstanceGuard::Acquire(kInstanceGuardName, runtime.path().string());
    ASSERT_TRUE(first.guard.has_value());
    const auto run = Run({"--json"});
    SKIP_WITHOUT_ISOLATION(run);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("错误: 检测到另一个Lumidex_ERR在运行中,点击确定后将退出!"),
              std::string::npos)
        << run.err;
}

TEST_F(ConsoleTest, InstalledProductGetsAFreshLogAtStart) {
    const auto install = prefix.path() / "drive_c" / "Program Files" / "Kelvora";
    std::filesystem::create_directories(install / "log");
    testing::WriteFile(install / "log" / "Lumidex_log.txt", "an earlier run");
    prefix.WriteInstallLocation("C:\\Program Files\\Kelvora");

    const auto run = Run({"--json"});
    SKIP_WITHOUT_ISOLATION(run);
    ASSERT_LE(run.exitCode, 1) << run.err;
    const auto result = nlohmann::json::parse(run.out);
    const std::filesystem::path logPath = result.at("log_path").get<std::string>();
    EXPECT_TRUE(std::filesystem::equivalent(logPath, install / "log" / "Lumidex_log.txt"));
    const std::string content = testing::ReadAll(logPath);
    EXPECT_EQ(content.find("an earlier run"), std::string::npos) << "the leftover log is emptied";
}

}  // namespace
}  // namespace lumidex
