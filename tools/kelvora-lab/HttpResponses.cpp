#include "tools/kelvora-lab/HttpResponses.h"

#include <cstdio>

#include "tools/kelvora-lab/ChannelListXml.h"
#include "tools/kelvora-lab/HostileAnswers.h"

namespace lumidex::lab {
namespace {

constexpr std::size_t kChunkBytes = 256;
constexpr std::size_t kPatchFileBytes = 4096;

std::string Head(const char* status, const char* contentType, const HttpRequest* request,
                 bool forceClose) {
    std::string head = std::string("HTTP/1.1 ") + status + "\r\nServer: kelvora-lab\r\n";
    if (contentType != nullptr) {
        head += std::string("Content-Type: ") + contentType + "\r\n";
    }
    const bool close = forceClose || request == nullptr || request->WantsClose();
    head += close ? "Connection: close\r\n" : "Connection: Keep-Alive\r\n";
    return head;
}

HttpAnswer WithLength(std::string head, const std::string& body, bool close) {
    HttpAnswer answer;
    answer.bytes =
        std::move(head) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    answer.closeAfter = close;
    return answer;
}

HttpAnswer NotFound(const HttpRequest& request) {
    return WithLength(Head("404 Not Found", "text/html", &request, false),
                      "<html><body><h1>404 Not Found</h1></body></html>\r\n", request.WantsClose());
}

HttpAnswer NotAllowed() {
    return WithLength(Head("405 Method Not Allowed", "text/html", nullptr, true),
                      "<html><body><h1>405 Method Not Allowed</h1></body></html>\r\n", true);
}

std::string Chunked(const std::string& body) {
    std::string out;
    for (std::size_t pos = 0; pos < body.size(); pos += kChunkBytes) {
        const std::string piece = body.substr(pos, kChunkBytes);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

}  // namespace

HttpAnswer AnswerInterceptedTcp(const HttpRequest& request, TcpMode mode) {
    const std::string* hostField = request.Header("Host");
    const std::string host = hostField != nullptr ? *hostField : std::string();
    const std::string body = "<html><body>moved</body></html>\r\n";
    if (mode == TcpMode::RedirectWww) {
        const std::string other = host.rfind("www.", 0) == 0 ? host.substr(4) : "www." + host;
        return WithLength(Head("301 Moved Permanently", "text/html", &request, true) +
                              "Location: http://" + other + request.target + "\r\n",
                          body, true);
    }
    const std::string location = std::string("Location: http://") + kPortalLoginHost +
                                 "/login?url=http://" + host + request.target;
    if (mode == TcpMode::PortalGbk) {
        if (request.target == "/") {
            return WithLength(Head("200 OK", "text/html; charset=gbk", &request, true),
                              kPortalGbkPage, true);
        }
        return WithLength(Head("302 Found", "text/html; charset=gbk", &request, true) + location +
                              "&msg=\xB5\xC7\xC2\xBC\r\n",
                          kPortalGbkPage, true);
    }
    return WithLength(Head("302 Found", "text/html", &request, true) + location + "\r\n", body,
                      true);
}

HttpAnswer AnswerChannelList(const HttpRequest& request, ChannelListMode mode,
                             const std::string& channelListXml) {
    if (request.method != "GET") {
        return NotAllowed();
    }
    if (request.target != kChannelListPath) {
        return NotFound(request);
    }
    const bool close = request.WantsClose();
    switch (mode) {
        case ChannelListMode::ContentLength:
            return WithLength(Head("200 OK", "text/xml", &request, false), channelListXml, close);
        case ChannelListMode::Malformed:
            return WithLength(Head("200 OK", "text/xml", &request, false),
                              BuildMalformedChannelList(), close);
        case ChannelListMode::Chunked: {
            HttpAnswer answer;
            answer.bytes = Head("200 OK", "text/xml", &request, false) +
                           "Transfer-Encoding: chunked\r\n\r\n" + Chunked(channelListXml);
            answer.closeAfter = close;
            return answer;
        }
        case ChannelListMode::UntilClose: {
            HttpAnswer answer;
            answer.bytes = Head("200 OK", "text/xml", &request, true) + "\r\n" + channelListXml;
            answer.closeAfter = true;
            return answer;
        }
        case ChannelListMode::Held: {
            // Ended by a close that never comes: the client has the whole list and still waits.
            HttpAnswer answer;
            answer.bytes = Head("200 OK", "text/xml", &request, true) + "\r\n" + channelListXml;
            answer.hold = true;
            return answer;
        }
        case ChannelListMode::NotFound:
            return NotFound(request);
        case ChannelListMode::Garbage: {
            HttpAnswer answer;
            static constexpr char kGarbage[] = "\x16\x03\x01\x00\xa5garbage\x00\xff\xfe not HTTP\n";
            answer.bytes.assign(kGarbage, sizeof kGarbage - 1);
            answer.closeAfter = true;
            return answer;
        }
        case ChannelListMode::Drip: {
            // A valid head announcing the whole list, then the body a byte at a time.
            HttpAnswer answer = WithLength(Head("200 OK", "text/xml", &request, false), "", false);
            answer.bytes.replace(answer.bytes.find("Content-Length: 0"), 17,
                                 "Content-Length: " + std::to_string(channelListXml.size()));
            answer.drip = channelListXml;
            answer.closeAfter = close;
            return answer;
        }
        case ChannelListMode::NeverAnswer: {
            HttpAnswer answer;
            answer.hold = true;
            return answer;
        }
        case ChannelListMode::DripHead:
        case ChannelListMode::EndlessHeader:
        case ChannelListMode::ChunkExtensionBomb:
        case ChannelListMode::ChunkZeros:
        case ChannelListMode::LengthAndChunked:
        case ChannelListMode::Huge:
        case ChannelListMode::Million:
        case ChannelListMode::Fresh:
            return AnswerHostileChannelList(request, mode,
                                            HostileChannelList(mode, channelListXml, 0));
    }
    return NotFound(request);
}

HttpAnswer AnswerDownload(const HttpRequest& request, DownloadMode mode) {
    if (request.method != "GET") {
        return NotAllowed();
    }
    if (request.target != kPatchPath || mode == DownloadMode::NotFound) {
        return NotFound(request);
    }
    if (mode == DownloadMode::Drip) {
        HttpAnswer answer =
            WithLength(Head("200 OK", "application/octet-stream", &request, true), "", true);
        answer.bytes.replace(answer.bytes.find("Content-Length: 0"), 17,
                             "Content-Length: " + std::to_string(PatchFileBytes().size()));
        answer.drip = PatchFileBytes();
        return answer;
    }
    return WithLength(Head("200 OK", "application/octet-stream", &request, false), PatchFileBytes(),
                      request.WantsClose());
}

HttpAnswer AnswerReport(ReportMode mode) {
    switch (mode) {
        case ReportMode::Ok:
            return WithLength(Head("200 OK", "text/html", nullptr, true), "OK\r\n", true);
        case ReportMode::Found: {
            HttpAnswer answer = WithLength(Head("302 Found", "text/html", nullptr, true), "", true);
            answer.bytes.insert(answer.bytes.find("Content-Length"), "Location: /\r\n");
            return answer;
        }
        case ReportMode::NotFound:
            return WithLength(Head("404 Not Found", "text/html", nullptr, true),
                              "<html><body><h1>404 Not Found</h1></body></html>\r\n", true);
        case ReportMode::Drip: {
            HttpAnswer answer =
                WithLength(Head("200 OK", "text/html", nullptr, true), "OK\r\n", true);
            answer.drip = std::move(answer.bytes);
            answer.bytes.clear();
            return answer;
        }
        case ReportMode::NeverClose:
        case ReportMode::HoldThenClose: {
            // A complete answer, but the connection stays open: a client that reads until the
            // server closes waits for ever unless it bounds its wait.
            HttpAnswer answer;
            answer.bytes =
                "HTTP/1.1 200 OK\r\nServer: kelvora-lab\r\nContent-Type: text/html\r\n"
                "Content-Length: 4\r\n\r\nOK\r\n";
            answer.hold = true;
            if (mode == ReportMode::HoldThenClose) {
                answer.holdFor = kReportHoldThenClose;
            }
            return answer;
        }
    }
    return AnswerBadRequest();
}

HttpAnswer AnswerBadRequest() {
    return WithLength(Head("400 Bad Request", "text/html", nullptr, true),
                      "<html><body><h1>400 Bad Request</h1></body></html>\r\n", true);
}

std::string PatchFileBytes() {
    std::string bytes = "MZ lab patch program stand-in\r\n";
    for (std::size_t i = bytes.size(); i < kPatchFileBytes; ++i) {
        bytes.push_back(static_cast<char>(i * 7 + 3));
    }
    return bytes;
}

}  // namespace lumidex::lab
