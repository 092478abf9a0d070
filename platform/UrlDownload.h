// The download the patch helper makes through the system's Internet library: one URL into
// one file, over libcurl, which honours the environment's proxy variables (http_proxy,
// https_proxy, no_proxy) as the Internet library honoured the system's proxy settings.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace lumidex::platform {

enum class DownloadResult : int {
    Done = 0,          // the whole body is in the file
    UrlFailed = 1,     // the URL could not be opened (no answer, bad address)
    FileFailed = 2,    // the file could not be created
    ReadFailed = 3,    // the transfer broke off after the answer began
    NotConnected = 4,  // no Internet connection, or no session
};

// Fetches url into hostPath (created or emptied, "wb"), appending the body in blocks of
// kDownloadBlockBytes. Whatever body the server sends is saved: the HTTP status is not
// looked at. connected answers InternetGetConnectedState; false gives NotConnected at once.
// The request carries the agent "Agent<tick count>", "Accept: */*" and asks every cache on
// the way to fetch anew.
DownloadResult DownloadUrlToHostFile(std::string_view url, const std::string& hostPath,
                                     const std::function<bool()>& connected);

}  // namespace lumidex::platform
