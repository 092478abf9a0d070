// The simulator serving on loopback, driven by plain socket clients: what goes over the wire in
// each mode, and what it stores and logs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "LabClient.h"
#include "tools/kelvora-lab/EventLog.h"
#include "tools/kelvora-lab/HttpResponses.h"
#include "tools/kelvora-lab/LabConfig.h"
#include "tools/kelvora-lab/Simulator.h"

namespace lumidex::lab {
namespace {

using namespace std::chrono_literals;
using labtest::ConnectResult;

// Generous: only a hang guard, never a measure of speed.
constexpr auto kGuard = 10s;
constexpr int kLateMs = 400;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class SimulatorOnLoopback : public ::testing::Test {
protected:
    // One simulator per mode set; every service on 127.0.0.1 with a free port.
    void Start(ChannelListMode channelMode, ReportMode reportMode) {
        m_dir = std::filesystem::temp_directory_path() /
                ("kelvora-lab-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        LabConfig config;
        config.logPath = (m_dir / "sim.log").string();
        config.otherAddress = "127.0.0.2";
        config.lateMs = kLateMs;
        config.channelList = ChannelListService{"127.0.0.1", 0, channelMode};
        config.download = DownloadService{"127.0.0.1", 0, DownloadMode::Ok};
        // Field by field: for a temporary built by a nested aggregate initialiser, GCC 12 at -O3
        // warns that its base's string may be destroyed uninitialised, which it never is.
        ReportService& report = config.report.emplace();
        report.address = "127.0.0.1";
        report.port = 0;
        report.mode = reportMode;
        report.dir = m_dir.string();
        config.tcp = {TcpService{"127.0.0.1", 0, TcpMode::Accept}};
        for (UdpMode mode : {UdpMode::Ok, UdpMode::Silent, UdpMode::Malformed, UdpMode::WrongType,
                             UdpMode::OtherAddress, UdpMode::Late}) {
            config.trackers.push_back(UdpServer{"127.0.0.1", 8000, 0, mode});
        }
        config.channelServers.push_back(UdpServer{"127.0.0.1", 0, 0, UdpMode::Ok});
        std::string error;
        ASSERT_TRUE(m_log.Open(config.logPath, error)) << error;
        m_simulator = std::make_unique<Simulator>(config, m_log);
        ASSERT_TRUE(m_simulator->Bind(error)) << error;
        m_thread = std::thread([this] { m_runResult = m_simulator->Run(); });
    }

    void TearDown() override {
        if (m_thread.joinable()) {
            m_simulator->Stop();
            m_thread.join();
            EXPECT_TRUE(m_runResult);
        }
        std::filesystem::remove_all(m_dir);
    }

    std::uint16_t Port(ServiceKind kind, std::size_t index = 0) const {
        return m_simulator->BoundPort(kind, index);
    }
    std::string Log() const { return ReadText(m_dir / "sim.log"); }

    std::vector<labtest::Datagram> Probe(std::size_t tracker, std::chrono::milliseconds wait) {
        const std::uint16_t port = Port(ServiceKind::Tracker, tracker);
        return labtest::UdpExchange("127.0.0.1", port, labtest::ProbeRequest("127.0.0.1", port),
                                    wait);
    }

    std::filesystem::path m_dir;
    EventLog m_log;
    std::unique_ptr<Simulator> m_simulator;
    std::thread m_thread;
    bool m_runResult = false;
};

const std::string kChannelRequest =
    "GET /channels.htm.xml HTTP/1.1\r\nAccept: */*\r\nHost: channel.example\r\n"
    "Connection: Keep-Alive\r\n\r\n";

TEST_F(SimulatorOnLoopback, ServesTheChannelListTwiceOnOneConnectionAndLogsTheRequest) {
    Start(ChannelListMode::ContentLength, ReportMode::Ok);
    platform::UniqueFd fd;
    ASSERT_EQ(labtest::TcpConnect("127.0.0.1", Port(ServiceKind::ChannelList), kGuard, &fd),
              ConnectResult::Connected);
    const std::string& xml = m_simulator->ChannelListXml();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(labtest::SendAll(fd.get(), kChannelRequest));
        std::string answer;
        ASSERT_TRUE(WaitFor([&] {
            char buffer[8192];
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
            return answer.size() >= xml.size() && answer.ends_with(xml);
        })) << answer;
        EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    }
    EXPECT_NE(Log().find("request from 127.0.0.1:"), std::string::npos);
    EXPECT_NE(Log().find("GET /channels.htm.xml HTTP/1.1\\r\\nAccept: */*\\r\\n"),
              std::string::npos);
}

TEST_F(SimulatorOnLoopback, HoldsANeverAnsweredRequestWhileOtherHostsServe) {
    Start(ChannelListMode::NeverAnswer, ReportMode::Ok);
    platform::UniqueFd fd;
    ASSERT_EQ(labtest::TcpConnect("127.0.0.1", Port(ServiceKind::ChannelList), kGuard, &fd),
              ConnectResult::Connected);
    ASSERT_TRUE(labtest::SendAll(fd.get(), kChannelRequest));
    const auto received = labtest::ReadUntilClose(fd.get(), 300ms);
    EXPECT_TRUE(received.bytes.empty());
    EXPECT_FALSE(received.closed);
    EXPECT_TRUE(WaitFor([&] { return Log().find("without an answer") != std::string::npos; }));

    // The download host on the same simulator answers and closes when asked to.
    const auto patch = labtest::Exchange(
        "127.0.0.1", Port(ServiceKind::Download),
        std::string("GET ") + kPatchPath + " HTTP/1.1\r\nConnection: close\r\n\r\n", kGuard);
    ASSERT_TRUE(patch.has_value());
    EXPECT_TRUE(patch->closed);
    EXPECT_TRUE(patch->bytes.ends_with(PatchFileBytes()));
}

TEST_F(SimulatorOnLoopback, AnswersAMalformedRequestWith400AndCloses) {
    Start(ChannelListMode::ContentLength, ReportMode::Ok);
    const auto answer = labtest::Exchange("127.0.0.1", Port(ServiceKind::ChannelList),
                                          "GET /channels.htm.xml HTTP/1.1\nHost: x\n\n", kGuard);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->bytes.rfind("HTTP/1.1 400 ", 0), 0u);
    EXPECT_TRUE(answer->closed);
    EXPECT_TRUE(WaitFor([&] { return Log().find("malformed request") != std::string::npos; }));
}

TEST_F(SimulatorOnLoopback, StoresEachReportByteForByte) {
    Start(ChannelListMode::ContentLength, ReportMode::Ok);
    // Body with GBK-like high bytes, a NUL and CR LF; the trailing CR LF is outside the length.
    const std::string body = std::string("fg=x&ti=%C4%E3\r\n\xb1\xbe\0end", 22);
    const std::string request =
        "POST /bbs?nm=%B4%ED HTTP/1.1\r\nHost: report.example\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body + "\r\n";
    const auto answer = labtest::Exchange("127.0.0.1", Port(ServiceKind::Report), request, kGuard);
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->closed);
    EXPECT_NE(answer->bytes.find("200 OK"), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(m_dir / "report-0001.req"); }));
    EXPECT_TRUE(WaitFor([&] { return ReadText(m_dir / "report-0001.req") == request; }));

    // A second request gets its own file; one cut short by its sender is stored as it came.
    platform::UniqueFd fd;
    ASSERT_EQ(labtest::TcpConnect("127.0.0.1", Port(ServiceKind::Report), kGuard, &fd),
              ConnectResult::Connected);
    const std::string partial = "POST /bbs HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly this";
    ASSERT_TRUE(labtest::SendAll(fd.get(), partial));
    fd.reset();
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(m_dir / "report-0002.req"); }));
    EXPECT_EQ(ReadText(m_dir / "report-0002.req"), partial);
    EXPECT_NE(Log().find("incomplete"), std::string::npos);
}

TEST_F(SimulatorOnLoopback, NeverCloseAnswersButKeepsTheConnection) {
    Start(ChannelListMode::ContentLength, ReportMode::NeverClose);
    platform::UniqueFd fd;
    ASSERT_EQ(labtest::TcpConnect("127.0.0.1", Port(ServiceKind::Report), kGuard, &fd),
              ConnectResult::Connected);
    ASSERT_TRUE(
        labtest::SendAll(fd.get(), "POST /bbs HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi\r\n"));
    std::string answer;
    ASSERT_TRUE(WaitFor([&] {
        char buffer[512];
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        return answer.find("OK\r\n", answer.find("\r\n\r\n")) != std::string::npos;
    }));
    EXPECT_NE(answer.find("200 OK"), std::string::npos);
    EXPECT_FALSE(labtest::ReadUntilClose(fd.get(), 300ms).closed);
}

TEST_F(SimulatorOnLoopback, TcpHostsAcceptAndClose) {
    Start(ChannelListMode::ContentLength, ReportMode::Ok);
    platform::UniqueFd fd;
    ASSERT_EQ(labtest::TcpConnect("127.0.0.1", Port(ServiceKind::Tcp), kGuard, &fd),
              ConnectResult::Connected);
    EXPECT_TRUE(labtest::ReadUntilClose(fd.get(), kGuard).closed);
    EXPECT_TRUE(WaitFor([&] { return Log().find("; closed") != std::string::npos; }));
}

TEST_F(SimulatorOnLoopback, ProbeRespondersBehaveAsConfigured) {
    Start(ChannelListMode::ContentLength, ReportMode::Ok);
    // Tracker modes in order: ok, silent, malformed, wrong-type, other-address, late.
    const auto ok = Probe(0, kGuard / 10);
    ASSERT_EQ(ok.size(), 1u);
    EXPECT_EQ(ok[0].from, "127.0.0.1");
    EXPECT_EQ(ok[0].fromPort, Port(ServiceKind::Tracker, 0));
    EXPECT_TRUE(labtest::IsValidProbeReply(ok[0].bytes));

    EXPECT_TRUE(Probe(1, 300ms).empty());

    const auto malformed = Probe(2, kGuard / 10);
    ASSERT_EQ(malformed.size(), 1u);
    EXPECT_FALSE(labtest::IsValidProbeReply(malformed[0].bytes));

    const auto wrongType = Probe(3, kGuard / 10);
    ASSERT_EQ(wrongType.size(), 1u);
    EXPECT_FALSE(labtest::IsValidProbeReply(wrongType[0].bytes));
    EXPECT_EQ(wrongType[0].bytes[5], 9);

    const auto other = Probe(4, kGuard / 10);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].from, "127.0.0.2");
    EXPECT_TRUE(labtest::IsValidProbeReply(other[0].bytes));

    // Nothing while the prober would still be waiting, then a valid reply.
    EXPECT_TRUE(Probe(5, std::chrono::milliseconds(kLateMs / 4)).empty());
    const auto late = Probe(5, std::chrono::milliseconds(kLateMs * 10));
    ASSERT_GE(late.size(), 1u);
    EXPECT_TRUE(labtest::IsValidProbeReply(late[0].bytes));

    // A request naming another server (or no request at all) gets nothing back.
    const std::uint16_t port = Port(ServiceKind::ChannelServer);
    EXPECT_TRUE(
        labtest::UdpExchange("127.0.0.1", port, labtest::ProbeRequest("127.0.0.9", port), 300ms)
            .empty());
    EXPECT_TRUE(labtest::UdpExchange("127.0.0.1", port, {1, 2, 3}, 300ms).empty());
    EXPECT_EQ(labtest::UdpExchange("127.0.0.1", port, labtest::ProbeRequest("127.0.0.1", port),
                                   kGuard / 10)
                  .size(),
              1u);
    const std::string log = Log();
    EXPECT_NE(log.find("invalid: names another server"), std::string::npos);
    EXPECT_NE(log.find("invalid: size 3"), std::string::npos);
    EXPECT_NE(log.find("0c004300000"), std::string::npos);
}

}  // namespace
}  // namespace lumidex::lab
