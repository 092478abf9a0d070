// The hostile network: in each hostile-* scenario the whole run ends within its bound and under
// 256 MiB resident, with the rows a failure of the service concerned gives; and a stop
// (SIGINT once, as Ctrl+C) ends the run within its own bound with the summary written.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "LabFixture.h"
#include "engine/Endpoints.h"
#include "engine/FindingsText.h"
#include "platform/UrlDownload.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceLimits.h"
#include "service/UdpServerProbe.h"
#include "tests/support/NullReporter.h"

namespace lumidex::labtest {
namespace {

using Clock = std::chrono::steady_clock;
using Row = std::tuple<int, std::string, std::string>;  // id, status, detail

constexpr long kMaxResidentKiB = 256 * 1024;

// How each case is driven: a console run (--json), one with --submit, the patch download on
// its own (on Linux it is never part of a run), or many list requests in one process.
enum class Driver { Console, Submit, Download, ManyRuns };

struct HostileCase {
    Driver driver = Driver::Console;
    int boundSeconds = 0;  // the whole run
    // The stop pass: SIGINT this long after the start (inside the hostile step), and the
    // longest the run may then take: 2 s after the probe step under way, where that step
    // cannot be cut short; 0: no stop pass (not a run of the console).
    double stopAfterSeconds = 0;
    double stopBoundSeconds = 0;
    std::vector<Row> rows;
    bool listErrorFound = false;  // "请求频道列表文件时发生错误" among the findings
    int exitStatus = 1;
    // The stop lands while the walk waits for the list, which has not come by then: the basic
    // rows are done and no service row is, the cut list counts as failed, and no channel
    // server or tracker hears a datagram during the stopped run.
    bool stopInListWait = false;
};

const std::string kListError = "请求频道列表文件时发生错误";

Row Share(int id, const char* status, int percent) {
    return {id, status, "正常连接:" + std::to_string(percent) + "%"};
}

const std::map<std::string, HostileCase>& Cases() {
    static const std::map<std::string, HostileCase> table = [] {
        // No server is learnt: the channel and directory rows fail.
        const std::vector<Row> noServers = {Share(17, "Error", 0), Share(18, "Error", 0)};
        const std::vector<Row> allServices = {{13, "Ok", "正常"},   Share(14, "Ok", 100),
                                              Share(15, "Ok", 100), Share(16, "Ok", 100),
                                              Share(17, "Ok", 100), Share(18, "Ok", 100)};
        std::map<std::string, HostileCase> t;
        // The list's overall deadline (30 s) ends both drips; before it ends, a head still
        // without its status line is a failed download, a cut body a list that does not parse.
        t["hostile-list-drip-head"] = {Driver::Console, 45, 5, 2, noServers, true};
        t["hostile-list-drip-body"] = {Driver::Console, 45, 5, 2, noServers, false};
        // The report answer's 10 s bound; the stop lands in the exchange, which it does not
        // shorten (the run is over by then): its bound is the exchange's plus 2 s.
        t["hostile-report-drip"] = {Driver::Submit, 30, 5, 12, {{7, "Error", "Internet连接中断"}},
                                    false,          3};
        // A byte every 5 s is under the download's 1 byte/s for 60 s: it gives up then (a faster
        // drip meets the 120 s total bound instead).
        t["hostile-download-drip"] = {Driver::Download, 130, 0, 0, {}, false, 0};
        // Framing that ends the response: status 200 with no (usable) body.
        for (const char* name : {"hostile-endless-header", "hostile-chunk-extension-bomb",
                                 "hostile-chunk-zeros", "hostile-length-and-chunked"}) {
            t[name] = {Driver::Console, 20, 0.3, 2, noServers, false};
        }
        t["hostile-huge-list"] = {Driver::Console, 40, 0.5, 2, allServices, false, 0};
        // The stop lands in a UDP attempt (2 s), which it does not cut.
        t["hostile-million-servers"] = {Driver::Console, 40, 2.5, 4, noServers, false};
        // Each attempt takes the first datagram, a reply from another address: a time-out.
        t["hostile-udp-flood"] = {Driver::Console, 20, 0.5, 2, noServers, false};
        // The stop lands in a ping (1 s).
        t["hostile-echo-flood"] = {Driver::Console,
                                   20,
                                   0.5,
                                   3,
                                   {{2, "Ok", "连接正常(198.18.0.1)"},
                                    {3, "Ok", "连接正常(198.18.53.1,198.18.53.2)"},
                                    Share(16, "Ok", 100)},
                                   false,
                                   0};
        // The Internet probe waits 3 s for its sites, less than one look-up takes.
        std::vector<Row> slowDns = allServices;
        slowDns.push_back({7, "Error", "Internet连接中断"});
        // The stop lands in the Internet probe, whose look-ups (4 s) cannot be cut short.
        t["hostile-dns-slow"] = {Driver::Console, 40, 2.5, 4, slowDns, false};
        t["hostile-hosts-100mb"] = {Driver::Console, 40, 0.3, 2, allServices, false, 0};
        // A hive over 64 MiB is not read: nothing is installed, no player, no program.
        t["hostile-hive-100mb"] = {Driver::Console,
                                   20,
                                   0.3,
                                   2,
                                   {{9, "Warning", ""},
                                    {10, "Error", "asf文件没有关联"},
                                    {11, "Error", "asx文件没有关联"}},
                                   false};
        t["hostile-fresh-servers"] = {Driver::ManyRuns, 120, 0, 0, {}, false, 0};
        // The whole list comes at once, but without a length, and the host never closes: the
        // receive bound (10 s after the last byte) ends the read with the whole list. The stop
        // lands in the walk's wait for it: the basic rows take about 1.5 s in the lab, and
        // the test fails, saying so, when they were not done by the stop.
        t["hostile-list-held"] = {Driver::Console, 25, 3, 2, allServices, false, 0, true};
        return t;
    }();
    return table;
}

struct Outcome {
    bool stopSent = false;  // the SIGINT reached a run still under way
    std::string out;
    std::string err;
    int exitStatus = -1;   // -1: killed by a signal, or never ended
    double seconds = 0;    // start to end
    double afterStop = 0;  // SIGINT to end
    long peakKiB = 0;      // the console's peak resident set (ru_maxrss)
};

// Runs the console with args; with stopAfter > 0, sends SIGINT once that long after the start.
// Killed at guard, so that a run that hangs fails the test instead of holding it.
Outcome RunConsole(const std::vector<std::string>& args, double stopAfter, double guard) {
    Outcome outcome;
    const char* console = std::getenv("LUMIDEX_CONSOLE");
    int outPipe[2];
    int errPipe[2];
    if (console == nullptr || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        ::pipe2(errPipe, O_CLOEXEC) != 0) {
        return outcome;
    }
    std::vector<char*> argv{const_cast<char*>(console)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execv(console, argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    std::optional<Clock::time_point> stopped;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* into[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (stopAfter > 0 && !stopped && elapsed >= stopAfter) {
            outcome.stopSent = ::kill(pid, SIGINT) == 0;
            stopped = Clock::now();
        }
        if (elapsed > guard) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, 50) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto end = Clock::now();
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.seconds = std::chrono::duration<double>(end - start).count();
    outcome.afterStop = stopped ? std::chrono::duration<double>(end - *stopped).count() : 0;
    outcome.peakKiB = usage.ru_maxrss;
    return outcome;
}

// The probe datagrams the simulated channel servers and trackers have received so far.
int ServerDatagrams(const std::string& simLog) {
    int count = 0;
    std::istringstream lines(ReadText(simLog));
    for (std::string line; std::getline(lines, line);) {
        const bool server = line.find(" channel-server ") != std::string::npos ||
                            line.find(" tracker ") != std::string::npos;
        count += server && line.find(" request from ") != std::string::npos ? 1 : 0;
    }
    return count;
}

std::string RowStatus(const Json& result, int id) {
    for (const Json& row : result.value("rows", Json::array())) {
        if (row.value("id", 0) == id) {
            return row.value("status", "");
        }
    }
    return "";
}

long OwnPeakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class Hostile : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        const char* scenario = std::getenv("LAB_SCENARIO");
        ASSERT_NE(scenario, nullptr);
        const auto found = Cases().find(scenario);
        ASSERT_NE(found, Cases().end()) << "no hostile case for " << scenario;
        m_case = &found->second;
    }

    std::vector<std::string> Args() const {
        if (m_case->driver == Driver::Submit) {
            return {"--json", "--submit"};
        }
        return {"--json"};
    }

    const HostileCase* m_case = nullptr;
};

void ExpectRows(const Json& result, const HostileCase& expected) {
    ASSERT_TRUE(result.is_object() && result.contains("rows"));
    for (const auto& [id, status, detail] : expected.rows) {
        const auto row = std::find_if(result["rows"].begin(), result["rows"].end(),
                                      [id = id](const Json& r) { return r["id"] == id; });
        ASSERT_NE(row, result["rows"].end()) << id;
        EXPECT_EQ((*row)["status"], status) << row->dump();
        EXPECT_EQ((*row)["detail"], detail) << row->dump();
    }
    const bool listError =
        result.value("findings", "").find("\r\n" + kListError) != std::string::npos;
    EXPECT_EQ(listError, expected.listErrorFound);
}

TEST_F(Hostile, RunEndsWithinItsBoundAndMemoryWithTheRowsOfTheFailure) {
    const HostileCase& c = *m_case;
    if (c.driver == Driver::Download) {
        const std::string file = (lab().Dir() / "patch-download.exe").string();
        const auto start = Clock::now();
        const auto result =
            platform::DownloadUrlToHostFile(endpoints::kPatchUrl, file, [] { return true; });
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_NE(result, platform::DownloadResult::Done);
        EXPECT_LE(seconds, c.boundSeconds);
        EXPECT_LT(OwnPeakKiB(), kMaxResidentKiB);
        std::printf("download: result %d after %.1f s\n", static_cast<int>(result), seconds);
        return;
    }
    if (c.driver == Driver::ManyRuns) {
        // The list request and the parse of the service checks, a thousand times in one
        // process, against a host whose list names new servers each time, and every 25th run
        // the UDP probes of the kept lists too. The fresh servers are silent: each attempt
        // waits 1 ms (some 8 ms on the kernel's clock) instead of 2 s, and still a run's
        // probes take a quarter second, a whole run some 5 s.
        constexpr int kRuns = 1000;
        constexpr int kProbeEvery = 25;
        ServiceHostLists lists;
        UdpProbeSocket socket(std::chrono::milliseconds(1));
        socket.Open(0);
        testing::NullReporter reporter;
        const auto start = Clock::now();
        std::size_t most = 0;
        for (int run = 0; run < kRuns; ++run) {
            ASSERT_TRUE(lists.FetchChannelList(endpoints::kChannelListUrl, HttpChannelListGet()))
                << "run " << run;
            lists.ParseChannelList();
            if (run % kProbeEvery == 0) {
                TheFindingsText().Reset("");
                EXPECT_EQ(ProbeUdpServers(ServerGroup::ChannelServers, socket,
                                          lists.ChannelServers(), 8, reporter),
                          0);
                EXPECT_EQ(
                    ProbeUdpServers(ServerGroup::Trackers, socket, lists.Trackers(), 6, reporter),
                    0);
            }
            most = std::max({most, lists.ChannelServers().Size(), lists.Trackers().Size()});
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_LE(most, kMaxKeptServers);
        EXPECT_GT(lists.Trackers().Size(), 0u);
        EXPECT_LE(seconds, c.boundSeconds);
        EXPECT_LT(OwnPeakKiB(), kMaxResidentKiB);
        std::printf("%d runs in %.1f s; largest kept list %zu; peak %ld KiB\n", kRuns, seconds,
                    most, OwnPeakKiB());
        return;
    }
    const Outcome run = RunConsole(Args(), 0, c.boundSeconds + 60.0);
    std::printf("run: %.1f s, peak %ld KiB, exit %d\n", run.seconds, run.peakKiB, run.exitStatus);
    EXPECT_LE(run.seconds, c.boundSeconds);
    EXPECT_LT(run.peakKiB, kMaxResidentKiB);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
    ExpectRows(Json::parse(run.out, nullptr, false), c);
}

TEST_F(Hostile, StopEndsTheRunWithItsSummary) {
    const HostileCase& c = *m_case;
    if (c.stopAfterSeconds <= 0) {
        GTEST_SKIP() << "not a run of the console";
    }
    const std::string simLog = lab().Notes().value("log", "");
    const int datagramsBefore = ServerDatagrams(simLog);
    const Outcome run = RunConsole(Args(), c.stopAfterSeconds, c.boundSeconds + 60.0);
    std::printf("stopped after %.1f s: ended %.2f s later, peak %ld KiB\n", c.stopAfterSeconds,
                run.afterStop, run.peakKiB);
    if (c.stopInListWait) {
        // Late datagrams of the run would be logged by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(ServerDatagrams(simLog), datagramsBefore)
            << "servers were probed during the stopped run";
        std::printf("server datagrams before the stopped run: %d\n", datagramsBefore);
        const Json result = Json::parse(run.out, nullptr, false);
        ASSERT_TRUE(result.is_object()) << run.out;
        EXPECT_NE(RowStatus(result, 11), "NotChecked") << "the stop came before the list wait";
        for (int id = 13; id <= 18; ++id) {
            EXPECT_EQ(RowStatus(result, id), "NotChecked") << id;
        }
        EXPECT_NE(result.value("findings", "").find("\r\n" + kListError), std::string::npos)
            << "a list cut by the stop counts as failed";
    }
    EXPECT_TRUE(run.stopSent) << "the run ended before the stop: " << run.seconds << " s";
    EXPECT_LE(run.afterStop, c.stopBoundSeconds);
    EXPECT_LT(run.peakKiB, kMaxResidentKiB);
    // One Ctrl+C is the stop button: the console ends on its own, with the summary.
    EXPECT_GE(run.exitStatus, 0);
    EXPECT_NE(run.out.find("[检测结束]"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace lumidex::labtest
