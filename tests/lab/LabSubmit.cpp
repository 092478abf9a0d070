// lumidex-console --submit in the lab: after a run with an error to report, the report server
// must have stored a request whose form fields decode to the run's findings and the contact
// details given (and with --dry-run must have received nothing while the request is printed
// decoded); a server that answers and then holds the connection open must make the
// submission stop reading at its bound and judge the answer it had: a success.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <thread>

#include "LabFixture.h"
#include "platform/TextCodec.h"
#include "report/ReportBody.h"
#include "report/ReportLimits.h"
#include "support/ResultSchema.h"

namespace lumidex::labtest {
namespace {

using Clock = std::chrono::steady_clock;

// The whole run and submission; the run alone takes seconds, a server holding it open 10 s more.
constexpr auto kProcessBound = 120s;
// What the submission may take past the server's answer before the wait bound ends it: the
// bound itself plus room for a loaded machine.
constexpr auto kGiveUpBound = std::chrono::milliseconds(kReceiveTimeoutMs) + 5s;

// Every character the escaping must touch, Chinese text, and a line break inside the note as
// a shell passes it: a bare LF.
const ContactDetails kContact = {
    "12345678",
    "lab.user@example.com",
    "俱乐部007",
    "user+tag@lab.example",
    "频道打不开 & 卡: 100%?\n第二行 <b>|\"/\\* = 结束",
};
// The contact block the server must receive: the note's line break as CR LF, as the report
// form sends a typed one.
const std::string kContactBlock =
    "Title:KLV诊断日志\r\nclubId=俱乐部007\r\nQQ=12345678\r\nMSN=lab.user@example.com\r\n"
    "email=user+tag@lab.example\r\n描述信息=频道打不开 & 卡: 100%?\r\n第二行 <b>|\"/\\* = 结束\r\n";

struct Submission {
    int exitStatus = -1;
    bool timedOut = false;
    std::string out;  // the JSON of the run
    std::string err;  // the outcome message
    std::filesystem::path stored;
    Clock::duration storedToExit{};
};

std::set<std::filesystem::path> StoredRequests(const std::filesystem::path& dir) {
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".req") {
            found.insert(entry.path());
        }
    }
    return found;
}

// Runs lumidex-console --json --submit with kContact (and `extra`) and watches the report
// folder meanwhile, so the time from the server's copy of the request to the process's end is
// known.
Submission Submit(const std::vector<std::string>& extra = {}) {
    Submission out;
    const char* console = std::getenv("LUMIDEX_CONSOLE");
    if (console == nullptr) {
        return out;
    }
    const std::filesystem::path reports = Lab::Get().Notes()["reportDir"].get<std::string>();
    const std::set<std::filesystem::path> before = StoredRequests(reports);
    const std::filesystem::path outFile = Lab::Get().Dir() / "submit.out";
    const std::filesystem::path errFile = Lab::Get().Dir() / "submit.err";

    std::vector<std::string> args = {console,         "--json",  "--submit",     "--qq",
                                     kContact.qq,     "--msn",   kContact.msn,   "--club-id",
                                     kContact.clubId, "--email", kContact.email, "--note",
                                     kContact.note};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, console, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return out;
    }

    const auto deadline = Clock::now() + kProcessBound;
    std::optional<Clock::time_point> storedAt;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            out.timedOut = true;
            break;
        }
        if (!storedAt) {
            for (const auto& path : StoredRequests(reports)) {
                if (before.count(path) == 0) {
                    out.stored = path;
                    storedAt = Clock::now();
                }
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    const auto ended = Clock::now();
    for (const auto& path : StoredRequests(reports)) {
        if (out.stored.empty() && before.count(path) == 0) {
            out.stored = path;
            storedAt = ended;
        }
    }
    out.storedToExit = storedAt ? ended - *storedAt : Clock::duration{};
    out.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.out = ReadText(outFile);
    out.err = ReadText(errFile);
    return out;
}

// Connections the report server accepted so far, as its log counts them.
std::size_t ReportServerAccepts() {
    const std::string log = ReadText(Lab::Get().Notes()["log"].get<std::string>());
    std::size_t count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" report ") != std::string::npos &&
            line.find(" accept from ") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

// CR LF as LF, as a preview shows line breaks.
std::string WithLfLineBreaks(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The report's escaping undone, strictly: "%XX" with upper-case hex digits only, and none of
// the bytes the escaping must replace (0x80-0xFF, \ / : * ? " < > | % &) left raw. nullopt
// names a fault in the escaping.
std::optional<std::string> Unescape(std::string_view text) {
    constexpr std::string_view kMustEscape = "\\/:*?\"<>|&";
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !IsUpperHex(text[i + 1]) || !IsUpperHex(text[i + 2])) {
                return std::nullopt;
            }
            bytes += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
            continue;
        }
        if (c >= 0x80 || kMustEscape.find(static_cast<char>(c)) != std::string_view::npos) {
            return std::nullopt;
        }
        bytes += static_cast<char>(c);
    }
    return platform::GbkToUtf8(bytes);
}

struct ReportFields {
    std::string title, user, findings, contact;
};

// A stored request: head, a body of Content-Length bytes, and the closing CR LF. The body is
// "fg=brindlebbspost&nm=Brindle&ti=T&user=U&co=FINDINGS\r\nCONTACT"; the escaped fields hold
// no "&", and the contact block is the part from its escaped first line ("Title%3A").
std::optional<ReportFields> ReadReport(const std::string& request, std::string& why) {
    const std::size_t headEnd = request.find("\r\n\r\n");
    const std::size_t lengthAt = request.find("\r\nContent-Length: ");
    if (request.rfind("POST ", 0) != 0 || headEnd == std::string::npos || lengthAt > headEnd) {
        why = "not a POST with a Content-Length";
        return std::nullopt;
    }
    const std::size_t length = std::stoul(request.substr(lengthAt + 18));
    const std::string body = request.substr(headEnd + 4);
    if (body.size() != length + 2 || body.compare(length, 2, "\r\n") != 0) {
        why = "the body is not Content-Length bytes and a closing CR LF";
        return std::nullopt;
    }
    const std::string_view form(body.data(), length);
    constexpr std::string_view kStart = "fg=brindlebbspost&nm=Brindle&ti=";
    const std::size_t user = form.find("&user=");
    const std::size_t co = form.find("&co=");
    const std::size_t contact = form.find("\r\nTitle%3A");
    if (form.substr(0, kStart.size()) != kStart || user == std::string::npos ||
        co == std::string::npos || contact == std::string::npos || !(user < co && co < contact)) {
        why = "the form's fields are not in place";
        return std::nullopt;
    }
    const auto title = Unescape(form.substr(kStart.size(), user - kStart.size()));
    const auto host = Unescape(form.substr(user + 6, co - user - 6));
    const auto findings = Unescape(form.substr(co + 4, contact - co - 4));
    const auto block = Unescape(form.substr(contact + 2));
    if (!title || !host || !findings || !block) {
        why = "a field is not escaped as the report server expects";
        return std::nullopt;
    }
    return ReportFields{*title, *host, *findings, *block};
}

class LabSubmit : public LabTest {
protected:
    // The submission's request as stored, checked against the run it followed.
    void ExpectReportOf(const Submission& submission) {
        const Json run = Json::parse(submission.out, nullptr, false);
        ASSERT_TRUE(run.is_object()) << submission.out << submission.err;
        EXPECT_EQ(testing::ResultSchemaErrors(submission.out, Lab::Get().Dir() / "submit.json"),
                  "");
        ASSERT_TRUE(run["submit_enabled"].get<bool>()) << "no reason to submit in this lab";
        ASSERT_FALSE(submission.stored.empty()) << "the report server stored no request";
        std::string why;
        const auto fields = ReadReport(ReadText(submission.stored), why);
        ASSERT_TRUE(fields.has_value()) << why << "\n" << ReadText(submission.stored);
        EXPECT_EQ(fields->title, kReportTitle);
        EXPECT_EQ(fields->user, LocalHostName());
        EXPECT_EQ(fields->findings, run["findings"].get<std::string>());
        EXPECT_EQ(fields->contact, kContactBlock);
    }
};

using SubmitAccepted = LabSubmit;
TEST_F(SubmitAccepted, ServerStoresTheFindingsAndContactAndTheConsoleSaysSo) {
    const Submission submission = Submit();
    ASSERT_FALSE(submission.timedOut);
    EXPECT_EQ(submission.exitStatus, 1) << submission.err;  // errors found, report sent
    EXPECT_NE(submission.err.find(kSubmitSucceeded), std::string::npos) << submission.err;
    ExpectReportOf(submission);
}

// The server answers "200 OK" at once and then holds the connection, for ever or past the
// bound: the bound ends the reading and the answer received counts.
using SubmitHeldOpen = LabSubmit;
TEST_F(SubmitHeldOpen, StopsReadingAtTheBoundAndCountsTheAnswerReceived) {
    const Submission submission = Submit();
    ASSERT_FALSE(submission.timedOut) << "the submission hung";
    EXPECT_EQ(submission.exitStatus, 1) << submission.err;  // errors found, report sent
    EXPECT_NE(submission.err.find(kSubmitSucceeded), std::string::npos) << submission.err;
    // The server answered at once and kept the connection: what ended the wait is the bound.
    EXPECT_LE(submission.storedToExit, kGiveUpBound);
    EXPECT_GE(submission.storedToExit, std::chrono::milliseconds(kReceiveTimeoutMs) - 1s);
    ExpectReportOf(submission);
}

// --dry-run: the request is printed with its form fields decoded, and nothing reaches the
// report server, not even a connection.
using SubmitDryRun = LabSubmit;
TEST_F(SubmitDryRun, PrintsTheDecodedRequestAndTheServerReceivesNothing) {
    const std::size_t acceptsBefore = ReportServerAccepts();
    const Submission submission = Submit({"--dry-run"});
    ASSERT_FALSE(submission.timedOut);
    EXPECT_EQ(submission.exitStatus, 1) << submission.err;  // errors found, nothing sent
    EXPECT_TRUE(submission.stored.empty()) << "the report server stored " << submission.stored;
    EXPECT_EQ(ReportServerAccepts(), acceptsBefore) << "a connection reached the report server";

    const Json run = Json::parse(submission.out, nullptr, false);
    ASSERT_TRUE(run.is_object()) << submission.out << submission.err;
    ASSERT_TRUE(run["submit_enabled"].get<bool>()) << "no reason to submit in this lab";
    const std::string findings = run["findings"].get<std::string>();
    const std::string length =
        std::to_string(BuildReportBody(LocalHostName(), findings, kContact).size());
    EXPECT_EQ(submission.err,
              "POST /bbs?nm=%B4%ED%CE%F3%D5%EF%B6%CF%B1%A8%B8%E6 HTTP/1.1\n"
              "Host: report.kelvora.com\nAccept: */*\nContent-Type: */*\n"
              "User-Agent: CrashReport/1.0\nContent-Length: " +
                  length + "\nConnection: close\nCache-Control: no-cache\n\n" +
                  "fg=brindlebbspost\nnm=Brindle\nti=" + kReportTitle +
                  "\nuser=" + LocalHostName() + "\nco=" + WithLfLineBreaks(findings) + "\n" +
                  WithLfLineBreaks(kContactBlock) + "\nbody: " + length + " bytes\n");
}

}  // namespace
}  // namespace lumidex::labtest
