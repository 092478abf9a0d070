// What the lab's HTTP servers answer, as plain functions of the request and the scenario's
// mode, so the answers can be checked without sockets.
#pragma once

#include <string>

#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/LabConfig.h"

namespace lumidex::lab {

inline constexpr char kChannelListPath[] = "/channels.htm.xml";
inline constexpr char kPatchPath[] = "/download/XP_SP2_tcpPatch.exe";

struct HttpAnswer {
    std::string bytes;        // what to send; empty with hold set: send nothing
    bool closeAfter = false;  // close (after sending) instead of waiting for the next request
    bool hold = false;        // keep the connection open without answering or closing
};

HttpAnswer AnswerChannelList(const HttpRequest& request, ChannelListMode mode,
                             const std::string& channelListXml);
HttpAnswer AnswerDownload(const HttpRequest& request, DownloadMode mode);
// The report server answers once the whole request is in; hold means: answer, never close.
HttpAnswer AnswerReport(ReportMode mode);
// The answer to a request the parser rejected.
HttpAnswer AnswerBadRequest();

// The bytes served as the patch program: recognisable, deterministic, not runnable.
std::string PatchFileBytes();

}  // namespace lumidex::lab
