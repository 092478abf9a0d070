// What the lab's HTTP servers answer, as plain functions of the request and the scenario's
// mode, so the answers can be checked without sockets.
#pragma once

#include <chrono>
#include <string>

#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/LabConfig.h"

namespace lumidex::lab {

inline constexpr char kChannelListPath[] = "/channels.htm.xml";
inline constexpr char kPatchPath[] = "/download/XP_SP2_tcpPatch.exe";
// "drip": one body byte this often, well inside a client's 10 s wait for each receive.
inline constexpr std::chrono::milliseconds kDripEvery{5000};
// "hold-then-close": how long the report server keeps the connection after its answer; past
// the client's 10 s bound on the answer.
inline constexpr std::chrono::milliseconds kReportHoldThenClose{12000};

struct HttpAnswer {
    std::string bytes;        // what to send; empty with hold set: send nothing
    std::string drip;         // sent after bytes, one byte every kDripEvery
    std::string endless;      // sent after bytes over and over, as fast as the peer reads
    bool closeAfter = false;  // close (after sending) instead of waiting for the next request
    bool hold = false;        // keep the connection open without answering or closing
    std::chrono::milliseconds holdFor{0};  // with hold: close after this long (0: kHoldTimeout)
};

HttpAnswer AnswerChannelList(const HttpRequest& request, ChannelListMode mode,
                             const std::string& channelListXml);
HttpAnswer AnswerDownload(const HttpRequest& request, DownloadMode mode);
// The report server answers once the whole request is in; hold means: answer, then keep the
// connection open (for kReportHoldThenClose, or as long as the lab holds anything).
HttpAnswer AnswerReport(ReportMode mode);
// A captive portal's login host: every request to a portal-mode host is sent there.
inline constexpr char kPortalLoginHost[] = "login.portal.lab";
// The login page of the GBK portal, in GBK: "请先登录：" before the login URL, "，谢谢"
// after it, with no blank or quote to end the URL.
inline constexpr char kPortalGbkPage[] =
    "<html><head><meta charset=\"gbk\"></head><body><p>\xC7\xEB\xCF\xC8\xB5\xC7\xC2\xBC\xA3\xBA"
    "http://login.portal.lab/login?from=gbk\xA3\xAC\xD0\xBB\xD0\xBB</p></body></html>\r\n";
// What a portal-mode (302 to the login host, the page asked for in the query), a portal-gbk
// (kPortalGbkPage for "/", else a 302 like the portal's with "&msg=" and the raw GBK bytes of
// "登录" after it) or a redirect-www host (301 to the other name of the Host field) answers.
HttpAnswer AnswerInterceptedTcp(const HttpRequest& request, TcpMode mode);
// The answer to a request the parser rejected.
HttpAnswer AnswerBadRequest();

// The bytes served as the patch program: recognisable, deterministic, not runnable.
std::string PatchFileBytes();

}  // namespace lumidex::lab
