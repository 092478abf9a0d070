#include "probes/XpSp2Patch.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"
#include "platform/CopyData.h"
#include "platform/TextCodec.h"
#include "platform/UrlDownload.h"
#include "support/Files.h"
#include "support/FixturePrefix.h"
#include "support/LoopbackServer.h"
#include "support/NullReporter.h"

namespace lumidex {
namespace {

namespace fs = std::filesystem;
using testing::HttpAnswer;
using testing::ScriptedServer;

constexpr int kRow = 14;
constexpr char kInstall[] = "C:\\Kelvora\\";
constexpr char kPatchHost[] = "drive_c/Kelvora/xpsp2/XPSP2Patch.exe";

// Records every reporting call as one line.
class RecordingReporter : public testing::NullReporter {
public:
    int FindItemRow(int id) override {
        calls.push_back("find " + std::to_string(id));
        return kRow;
    }
    void SetItemText(int row, int column, std::string_view text) override {
        calls.push_back("text " + std::to_string(row) + ":" + std::to_string(column) + " " +
                        std::string(text));
    }
    void SetItemStatus(int row, CheckStatus status) override {
        calls.push_back("status " + std::to_string(row) + " " +
                        std::string(CheckStatusName(status)));
    }
    void SetStatusText(std::string_view text) override {
        calls.push_back("line " + std::string(text));
    }
    void ShowWaitCursor(bool shown) override {
        calls.push_back(shown ? "cursor on" : "cursor off");
    }
    void CountReportableError() override { calls.push_back("error"); }

    std::vector<std::string> calls;
};

// The details of row 12's problems (each an xpsp2_patch_missing warning); the reporter puts
// row 12 at kRow.
std::vector<std::string> PatchProblems() {
    std::vector<std::string> details;
    for (const Problem& problem : TheRunDiagnosis().Row(kRow).problems) {
        EXPECT_EQ(problem.code, ProblemCode::XpSp2PatchMissing);
        EXPECT_EQ(problem.severity, Severity::Warning);
        details.push_back(problem.detail);
    }
    return details;
}

class XpSp2PatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheRunDiagnosis().Reset();
        m_prefix.Activate();
        fs::create_directories(m_prefix.path() / "drive_c/Kelvora/log");
        TheDiagLog().SetPath(Host("drive_c/Kelvora/log/Lumidex_log.txt"));
        TheDiagLog().SetLevel(1);
        TheFindingsText().Reset("");
        m_helper.SetInstallDirectory(kInstall);
        ::setenv("LUMIDEX_PATCH_RECORD", Host("starts").c_str(), 1);
        ::setenv("LUMIDEX_PATCH_ANSWER", "50|standin", 1);
    }
    void TearDown() override {
        TheRunDiagnosis().Reset();
        TheDiagLog().SetPath("");
        ::unsetenv("LUMIDEX_PATCH_RECORD");
        ::unsetenv("LUMIDEX_PATCH_ANSWER");
    }

    std::string Host(const std::string& tail) const { return (m_prefix.path() / tail).string(); }
    std::string Log() const {
        return platform::GbkToUtf8(testing::ReadAll(Host("drive_c/Kelvora/log/Lumidex_log.txt")));
    }
    // A patch "program" that runs the stand-in with its arguments.
    static std::string StandInScript() {
        return std::string("#!/bin/sh\nexec '") + LUMIDEX_PATCH_STANDIN + "' \"$@\"\n";
    }
    // Waits until the stand-in recorded `line`.
    bool Started(const std::string& line) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (testing::ReadAll(Host("starts")).find(line + "\n") != std::string::npos) {
                return true;
            }
            ::poll(nullptr, 0, 20);
        }
        return false;
    }

    testing::FixturePrefix m_prefix;
    RecordingReporter m_reporter;
    XpSp2PatchHelper m_helper{m_reporter};
};

TEST_F(XpSp2PatchTest, DownloadResultCodes) {
    ScriptedServer ok(HttpAnswer("200 OK", std::string(40000, 'p')));
    ScriptedServer cut("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b");
    ScriptedServer silent("");
    // Each byte well inside the stall bound; the whole answer well past a short total bound.
    ScriptedServer dripping("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n",
                            ScriptedServer::Ending::Hold, 0, std::string(40, 'p'), 30);
    const std::string file = Host("file.bin");
    const struct {
        std::string url;
        std::string path;
        bool connected;
        platform::DownloadResult result;
        int totalMs = platform::kDownloadTotalMs;
    } rows[] = {
        {ok.Url("/p"), file, true, platform::DownloadResult::Done},
        {ok.Url("/p"), file, false, platform::DownloadResult::NotConnected},
        {testing::DeadLoopbackUrl("/p"), file, true, platform::DownloadResult::UrlFailed},
        {silent.Url("/p"), file, true, platform::DownloadResult::UrlFailed},
        {ok.Url("/p"), Host("no/such/dir/file.bin"), true, platform::DownloadResult::FileFailed},
        {dripping.Url("/p"), file, true, platform::DownloadResult::ReadFailed, 300},
        {cut.Url("/p"), file, true, platform::DownloadResult::ReadFailed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::DownloadUrlToHostFile(row.url, row.path, [&] { return row.connected; },
                                                  {row.totalMs, {}}),
                  row.result)
            << row.url << " " << row.path;
    }
    EXPECT_EQ(testing::ReadAll(Host("file.bin")).size(), 10u);  // the cut one came last
    ASSERT_EQ(ok.Requests().size(), 2u);
    const std::string request = ok.Requests().front();
    EXPECT_EQ(request.rfind("GET /p HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Agent"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nAccept: */*\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nPragma: no-cache\r\n"), std::string::npos) << request;
}

TEST_F(XpSp2PatchTest, DownloadLaunchAndAnswer) {
    ScriptedServer server(HttpAnswer("200 OK", StandInScript()));
    auto window = platform::CopyDataReceiver::Open();
    ASSERT_TRUE(window);
    m_helper.SetWindow(window->Handle());
    m_helper.SetPatchUrl(server.Url("/download/XP_SP2_tcpPatch.exe"));
    testing::WriteFile(Host(std::string(kPatchHost) + ".bak"), "stale");

    m_helper.RunXpSp2PatchCheck();
    const std::vector<std::string> expected = {"find 12",
                                               "line 正在下载XPSp2补丁文件...",
                                               "cursor on",
                                               "line 下载补丁文件成功",
                                               "text 14:1 下载补丁文件成功",
                                               "cursor off",
                                               "find 12",
                                               "status 14 Ok"};
    EXPECT_EQ(m_reporter.calls, expected);
    EXPECT_EQ(m_helper.PatchPath(), "C:\\Kelvora\\xpsp2\\XPSP2Patch.exe");
    EXPECT_EQ(testing::ReadAll(Host(kPatchHost)), StandInScript());
    EXPECT_FALSE(fs::exists(Host(std::string(kPatchHost) + ".bak")));
    EXPECT_TRUE(Started("getliminfo " + std::to_string(window->Handle())));

    m_reporter.calls.clear();
    int answers = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (answers == 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{window->Descriptor(), POLLIN, 0};
        ::poll(&fd, 1, 50);
        window->Process([&](uint32_t data, std::string_view text) {
            answers += m_helper.OnCopyData(data, text) ? 1 : 0;
        });
    }
    EXPECT_EQ(m_reporter.calls,
              (std::vector<std::string>{"find 12", "text 14:1 连接数:50", "status 14 Ok"}));
    EXPECT_NE(Log().find(" 1 连接数:50"), std::string::npos) << Log();
    EXPECT_EQ(TheFindingsText().Text(), "\r\n连接数:50");
    EXPECT_TRUE(PatchProblems().empty());
}

TEST_F(XpSp2PatchTest, ErrorPageIsSavedAndThenFailsToStart) {
    ScriptedServer server(HttpAnswer("404 Not Found", "<html>not here</html>"));
    m_helper.SetPatchUrl(server.Url("/download/XP_SP2_tcpPatch.exe"));
    m_helper.RunXpSp2PatchCheck();
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(testing::ReadAll(Host(kPatchHost)), "<html>not here</html>");
    const std::vector<std::string> tail(m_reporter.calls.end() - 3, m_reporter.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"text 14:1 执行补丁程序时失败", "status 14 Error",
                                              "error"}));
    EXPECT_NE(Log().find("调用XPSP2连接数补丁程序时失败"), std::string::npos);
    EXPECT_NE(Log().find(" 1 执行补丁程序时失败"), std::string::npos);
    EXPECT_EQ(TheFindingsText().Text(), "\r\n执行补丁程序时失败");
    EXPECT_EQ(PatchProblems(), std::vector<std::string>{"launch failed"});
}

TEST_F(XpSp2PatchTest, FailuresBeforeTheLaunch) {
    ScriptedServer silent("");
    const struct {
        const char* what;
        std::string install;
        std::string url;
        std::vector<std::string> calls;
        std::size_t requests;
        std::string findings;
        std::string problem;  // the detail of row 12's problem
    } rows[] = {
        {"three failed attempts",
         kInstall,
         silent.Url("/download/XP_SP2_tcpPatch.exe"),
         {"find 12", "line 正在下载XPSp2补丁文件...", "cursor on", "line 下载补丁文件失败!",
          "text 14:1 下载补丁文件失败", "status 14 Error", "cursor off", "error"},
         3,
         "",
         "download failed"},
        {"no installation directory",
         "",
         silent.Url("/x"),
         {"find 12", "text 14:1 获取补丁目录失败", "status 14 Error", "error"},
         0,
         "\r\n获取kelvora目录失败",
         "installation directory unknown"},
    };
    for (const auto& row : rows) {
        m_reporter.calls.clear();
        TheFindingsText().Reset("");
        TheRunDiagnosis().Reset();
        XpSp2PatchHelper helper(m_reporter);
        helper.SetInstallDirectory(row.install);
        helper.SetPatchUrl(row.url);
        const std::size_t before = silent.Requests().size();
        helper.RunXpSp2PatchCheck();
        EXPECT_EQ(m_reporter.calls, row.calls) << row.what;
        EXPECT_EQ(silent.Requests().size() - before, row.requests) << row.what;
        EXPECT_EQ(TheFindingsText().Text(), row.findings) << row.what;
        EXPECT_EQ(PatchProblems(), std::vector<std::string>{row.problem}) << row.what;
        EXPECT_FALSE(fs::exists(Host(std::string(kPatchHost) + ".bak"))) << row.what;
        EXPECT_FALSE(fs::exists(Host(kPatchHost))) << row.what;
    }
    EXPECT_NE(Log().find("获取kelvora目录失败"), std::string::npos);
}

TEST_F(XpSp2PatchTest, Answers) {
    ASSERT_EQ(m_helper.PreparePatchPath(), 0);
    testing::WriteFile(Host(kPatchHost), StandInScript());
    fs::permissions(Host(kPatchHost), fs::perms::owner_all);
    const std::string notPatched = std::string("text 14:1 ") + kNotPatched;
    const struct {
        uint32_t data;
        std::string text;
        std::vector<std::string> calls;
        bool visibleStart;
    } rows[] = {
        {5890, "50|x", {"find 12", "text 14:1 连接数:50", "status 14 Ok"}, false},
        {5890, "21|x", {"find 12", "text 14:1 连接数:21", "status 14 Ok"}, false},
        {5890, " \t 99|x", {"find 12", "text 14:1 连接数:99", "status 14 Ok"}, false},
        {5890,
         "99999999999999999999|x",
         {"find 12", "text 14:1 连接数:99999999999999999999", "status 14 Ok"},
         false},
        {5890, "20|x", {"find 12", notPatched, "status 14 Warning"}, true},
        {5890, "10|x", {"find 12", notPatched, "status 14 Warning"}, true},
        {5890, "|x", {}, false},
        {5890, "50", {}, false},
        {5891, "50|x", {}, false},
    };
    for (const auto& row : rows) {
        m_reporter.calls.clear();
        TheFindingsText().Reset("");
        TheRunDiagnosis().Reset();
        TheRunDiagnosis().SetCurrentRow(0);  // the walk is on another row by now
        fs::remove(Host("starts"));
        EXPECT_EQ(m_helper.OnCopyData(row.data, row.text), !row.calls.empty()) << row.text;
        EXPECT_EQ(m_reporter.calls, row.calls) << row.text;
        if (row.visibleStart) {
            EXPECT_TRUE(Started("start")) << row.text;
            // The answer reaches the window thread: the problem goes to row 12 itself.
            EXPECT_EQ(PatchProblems(),
                      std::vector<std::string>{"connection limit " + row.text.substr(0, 2)})
                << row.text;
        } else {
            EXPECT_TRUE(PatchProblems().empty()) << row.text;
        }
        const bool ok = !row.calls.empty() && row.calls.back().ends_with("Ok");
        EXPECT_EQ(!TheFindingsText().Text().empty(), ok) << row.text;
    }
    EXPECT_EQ(notPatched,
              "text 14:1 您的系统还没有打过xpsp2补丁!请在弹出的补丁对话框中点\"应用补丁\"");
}

}  // namespace
}  // namespace lumidex
