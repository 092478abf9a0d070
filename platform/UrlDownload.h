// The download the patch helper makes through the system's Internet library: one URL into
// one file, over libcurl, which honours the environment's proxy variables (http_proxy,
// https_proxy, no_proxy) as the Internet library honoured the system's proxy settings.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Deadline.h"
#include "platform/StandInLimits.h"

namespace lumidex::platform {

enum class DownloadResult : int {
    Done = 0,          // the whole body is in the file
    UrlFailed = 1,     // the URL could not be opened (no answer, bad address)
    FileFailed = 2,    // the file could not be created
    ReadFailed = 3,    // the transfer broke off after the answer began
    NotConnected = 4,  // no Internet connection, or no session
};

// The bound on one whole download and the clock it is measured by; tests shorten it.
struct DownloadBounds {
    int totalMs = kDownloadTotalMs;
    SteadyClock clock;
};

// Fetches url into hostPath (created or emptied, "wb"), appending the body in blocks of
// kDownloadBlockBytes. Whatever body the server sends is saved: the HTTP status is not
// looked at. connected answers InternetGetConnectedState; false gives NotConnected at once.
// The request carries the agent "Agent<tick count>", "Accept: */*" and asks every cache on
// the way to fetch anew. A transfer still going when bounds.totalMs have passed ends as a
// failed read (or as a URL that could not be opened, when no answer had begun).
DownloadResult DownloadUrlToHostFile(std::string_view url, const std::string& hostPath,
                                     const std::function<bool()>& connected,
                                     const DownloadBounds& bounds = {});

}  // namespace lumidex::platform
