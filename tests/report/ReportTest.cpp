// The report: escaping, the body, and the POST exchange against a scripted loopback server
// that records the bytes it received.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/TextCodec.h"
#include "platform/UniqueFd.h"
#include "report/ReportBody.h"
#include "report/ReportPoster.h"
#include "report/ReportPreview.h"
#include "report/UrlEscape.h"

namespace lumidex {
namespace {

using platform::UniqueFd;

TEST(UrlEscapeTest, EscapesExactlyTheFormBreakingBytes) {
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {"12345&x=1", "12345%26x=1"},
        {"a=b c+d#e", "a=b c+d#e"},
        {"\\/:*?\"<>|%&", "%5C%2F%3A%2A%3F%22%3C%3E%7C%25%26"},
        {platform::Utf8ToGbk("错误诊断"), "%B4%ED%CE%F3%D5%EF%B6%CF"},
        {"one\r\ntwo", "one\r\ntwo"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlEscape(c.input), c.expected) << c.input;
    }
}

TEST(UrlEscapeTest, CutsOnceTheOutputPassesTwoThirdsOfTheWorkBuffer) {
    // A piece is appended while the output is at most 66666 bytes long.
    EXPECT_EQ(UrlEscape(std::string(70000, 'a')).size(), kEscapeCutBytes + 1);
    EXPECT_EQ(UrlEscape(std::string(kEscapeCutBytes, 'a')).size(), kEscapeCutBytes);
    const std::string escaped = UrlEscape(std::string(30000, '&'));
    EXPECT_EQ(escaped.size(), kEscapeCutBytes + 3) << "the piece that crosses is whole";
    EXPECT_EQ(escaped.substr(escaped.size() - 3), "%26");
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// The body of host "pc", findings "\r\nIE处于脱机状态" and kContact, as sent.
const ContactDetails kContact = {"123&x=1", "", "a b", "", "你好\r\n"};
const std::string kBody =
    "fg=brindlebbspost&nm=Brindle&ti=KLV%BF%CD%BB%A7%B6%CB%B4%ED%CE%F3%D5%EF%B6%CF"
    "&user=pc&co=\r\nIE%B4%A6%D3%DA%CD%D1%BB%FA%D7%B4%CC%AC\r\n"
    "Title%3AKLV%D5%EF%B6%CF%C8%D5%D6%BE\r\nclubId=a b\r\nQQ=123%26x=1\r\nMSN=\r\n"
    "email=\r\n%C3%E8%CA%F6%D0%C5%CF%A2=%C4%E3%BA%C3\r\n\r\n";

TEST(ReportBodyTest, FieldsAreEscapedAndTheContactBlockFollowsACrLf) {
    EXPECT_EQ(FormatContactBlock({}),
              "Title:KLV诊断日志\r\nclubId=\r\nQQ=\r\nMSN=\r\nemail=\r\n描述信息=\r\n");
    EXPECT_EQ(BuildReportBody("pc", "\r\nIE处于脱机状态", kContact), kBody);

    ContactDetails contact;

    // A line break reaches the wire as CR LF however it was written, in any field.
    contact.qq = "1\n2";
    contact.note = "a\nb\r\nc\rd\n";
    EXPECT_EQ(FormatContactBlock(contact),
              "Title:KLV诊断日志\r\nclubId=\r\nQQ=1\r\n2\r\nMSN=\r\nemail=\r\n"
              "描述信息=a\r\nb\r\nc\r\nd\r\n\r\n");
}

TEST(ReportPreviewTest, UnescapesGbkAndShowsWhatIsNoEscapeAsItIs) {
    const struct {
        std::string escaped;
        std::string shown;
    } cases[] = {
        {"%C4%E3%BA%C3=a b+c", "你好=a b+c"},
        {"%c4%e3", "你"},  // either case of hex digit
        {"100%", "100%"},
        {"%4", "%4"},
        {"%G1%41", "%G1A"},
        {"%%41", "%A"},
        {"%C4", "\uFFFD"},  // a GBK lead byte cut off at the end
        {"%C4\r\nx", "\uFFFD\r\nx"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnescapeFormText(c.escaped), c.shown) << c.escaped;
    }
}

TEST(ReportPreviewTest, TheRequestAsSentWithEachFieldDecodedOnALineOfItsOwn) {
    const std::string url = "http://report.example:8080/bbs?nm=%B4%ED";
    EXPECT_EQ(FormatReportPreview(kBody, url),
              "POST /bbs?nm=%B4%ED HTTP/1.1\nHost: report.example\nAccept: */*\n"
              "Content-Type: */*\nUser-Agent: CrashReport/1.0\nContent-Length: 249\n"
              "Connection: close\nCache-Control: no-cache\n\n"
              "fg=brindlebbspost\nnm=Brindle\nti=KLV客户端错误诊断\nuser=pc\nco=\nIE处于脱机状态\n"
              "Title:KLV诊断日志\nclubId=a b\nQQ=123&x=1\nMSN=\nemail=\n描述信息=你好\n\n"
              "\nbody: 249 bytes\n");
    EXPECT_EQ(kBody.size(), 249u);

    // Control bytes cannot move the cursor or vanish: a lone CR, ESC and DEL show as pictures.
    const std::string tricky = FormatReportPreview("co=a\rb%1B[2J\x7F\tc", url);
    EXPECT_NE(tricky.find("\nco=a\u240Db\u241B[2J\u2421\tc\n\nbody: 15 bytes\n"), std::string::npos)
        << tricky;

    // Findings cut by the escaping inside a GBK character: the half character shows as
    // U+FFFD and the contact block still follows on its own lines.
    const std::string cut =
        FormatReportPreview(BuildReportBody("pc", Repeat("错", 30000), {}), url);
    EXPECT_NE(cut.find("\nco=" + Repeat("错", 11111) + "\uFFFD\nTitle:KLV诊断日志\nclubId=\n"),
              std::string::npos);

    EXPECT_EQ(FormatReportPreview(kBody, "ftp://report.example/"),
              "nothing would be sent: ftp://report.example/ is not an http:// address\n");
}

TEST(ReportUrlTest, OnlyHttpUrlsWithAHost) {
    const auto url = ParseHttpUrl("http://report.example:8080/bbs?nm=%B4");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host, "report.example");
    EXPECT_EQ(url->port, 8080);
    EXPECT_EQ(url->object, "/bbs?nm=%B4");
    const auto plain = ParseHttpUrl("HTTP://host");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->port, 80);
    EXPECT_EQ(plain->object, "/");
    for (const char* bad : {"ftp://host/", "http://", "http://:80/", "http://h:0/", "http://h:x/",
                            "http://h:65536/", "host/x"}) {
        EXPECT_FALSE(ParseHttpUrl(bad)) << bad;
    }
}

// One connection on a loopback port: records the request (read until its body and the
// closing CR LF are in), answers, then closes or holds the connection open.
// drip: sent after the response, one byte every dripEveryMs while the client takes them.
class ScriptedServer {
public:
    ScriptedServer(std::string response, bool holdOpen, std::string drip = {}, int dripEveryMs = 0)
        : m_response(std::move(response)),
          m_holdOpen(holdOpen),
          m_drip(std::move(drip)),
          m_dripEveryMs(dripEveryMs) {
        m_listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener.get(), 1) != 0 ||
            ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no loopback listener";
            return;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::uint16_t Port() const { return m_port; }
    // Valid once the client is done.
    const std::string& Received() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_received;
    }

private:
    bool RequestComplete() const {
        const std::size_t end = m_received.find("\r\n\r\n");
        const std::size_t length = m_received.find("Content-Length: ");
        if (end == std::string::npos || length == std::string::npos) {
            return false;
        }
        const std::size_t body = std::stoul(m_received.substr(length + 16));
        return m_received.size() >= end + 4 + body + 2;
    }

    void Serve() {
        pollfd waiting{m_listener.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) {
            return;  // the client never came (the test says whether it should have)
        }
        UniqueFd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        char buffer[8192];
        while (!RequestComplete()) {
            const ssize_t count = ::recv(client.get(), buffer, sizeof buffer, 0);
            if (count <= 0) {
                return;
            }
            m_received.append(buffer, static_cast<std::size_t>(count));
        }
        ::send(client.get(), m_response.data(), m_response.size(), MSG_NOSIGNAL);
        for (const char byte : m_drip) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_dripEveryMs));
            if (::send(client.get(), &byte, 1, MSG_NOSIGNAL) != 1) {
                break;
            }
        }
        if (m_holdOpen) {
            // Hold until the client gives up and closes its end.
            while (::recv(client.get(), buffer, sizeof buffer, 0) > 0) {
            }
        }
    }

    std::string m_response;
    bool m_holdOpen;
    std::string m_drip;
    int m_dripEveryMs;
    UniqueFd m_listener;
    std::uint16_t m_port = 0;
    std::string m_received;
    std::thread m_thread;
};

std::string UrlFor(std::uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/bbs?nm=%B4%ED";
}

TEST(ReportPosterTest, SendsTheRequestByteForByte) {
    ScriptedServer server("HTTP/1.1 200 OK\r\n\r\n", false);
    ReportPoster poster;
    EXPECT_EQ(poster.Post("fg=a&b=\r\nc", UrlFor(server.Port())), 200);
    EXPECT_EQ(server.Received(),
              "POST /bbs?nm=%B4%ED HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
              "Content-Type: */*\r\nUser-Agent: CrashReport/1.0\r\nContent-Length: 10\r\n"
              "Connection: close\r\nCache-Control: no-cache\r\n\r\nfg=a&b=\r\nc\r\n");
    EXPECT_EQ(poster.LastResponse(), "HTTP/1.1 200 OK\r\n\r\n");

    // A body of many send pieces arrives whole.
    const std::string large(3 * kSendPieceBytes + 17, 'x');
    ScriptedServer second("HTTP/1.1 302 Found\r\n\r\n", false);
    EXPECT_EQ(poster.Post(large, UrlFor(second.Port())), 302);
    const std::string& received = second.Received();
    EXPECT_EQ(received.substr(received.size() - large.size() - 2), large + "\r\n");
}

TEST(ReportPosterTest, RecognisesOnlyTheTwoAcceptedAnswers) {
    const std::string padding(kResponseMaxBytes - 6, ' ');
    const struct {
        std::string response;
        int expected;
    } cases[] = {
        {"HTTP/1.1 302 Found\r\nLocation: /\r\n\r\n", 302},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 200},
        {"HTTP/1.0 200 Success\r\n\r\n", 0},
        {"HTTP/1.1 404 Not Found\r\n\r\n200 OK is not here", 200},  // anywhere counts
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", 0},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 302\r\n\r\n", 0},  // "302" with no blank
        {"HTTP/1.1 200 OK\r\n\r\nmoved: 302 ", 302},                   // the second test wins
        {"", 0},
        {padding + "200 OK", 200},                      // the last bytes that are read
        {padding + " 200 OK", 0},                       // one byte past what is read
        {std::string("\0", 1) + "HTTP/1.1 200 OK", 0},  // a C string ends at its NUL
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.response, false);
        ReportPoster poster;
        EXPECT_EQ(poster.Post("x", UrlFor(server.Port())), c.expected) << c.response;
    }
}

TEST(ReportPosterTest, FailsWithoutServerOrProperUrl) {
    ReportPoster poster;
    std::uint16_t closedPort = 0;
    {
        ScriptedServer unused("", false);
        closedPort = unused.Port();
        // connect once so the server thread ends; then the port has no listener
        ReportPoster once({200, 200, 200, {}});
        once.Post("x", UrlFor(closedPort));
    }
    EXPECT_EQ(poster.Post("x", UrlFor(closedPort)), 0);
    EXPECT_EQ(poster.Post("x", "ftp://127.0.0.1/"), 0);
}

// The receive bound covers the whole answer; when it passes, the reading ends as after a
// failed receive and the status is judged on what arrived.
TEST(ReportPosterTest, TheAnswersBoundEndsTheReadingAndWhatArrivedIsJudged) {
    const struct {
        const char* name;
        std::string response;
        bool holdOpen;
        std::string drip;
        int expected;
    } cases[] = {
        {"accepted, then held open past the bound", "HTTP/1.1 200 OK\r\n", true, "", 200},
        {"nothing before the bound", "", true, "", 0},
        {"dripped past the bound: the late 302 never counts", "HTTP/1.1 200 OK\r\n", false,
         std::string(60, ' ') + "302 ", 200},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.response, c.holdOpen, c.drip, 30);
        ReportPoster poster({1000, 1000, 300, {}});
        EXPECT_EQ(poster.Post("x", UrlFor(server.Port())), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace lumidex
