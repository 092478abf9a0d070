#include "platform/UrlDownload.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "platform/StandInLimits.h"
#include "platform/TickCount.h"

namespace lumidex::platform {
namespace {

bool StartCurl() {
    // curl_global_init is not safe to run twice at once; a function-local static is.
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return started;
}

struct Transfer {
    const std::string* path = nullptr;
    const Deadline* deadline = nullptr;
    std::FILE* file = nullptr;
    bool answered = false;  // a response header arrived: the URL is "open"
    bool createFailed = false;

    ~Transfer() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    // The file is created with the first body bytes (or after an empty body), so a
    // transfer that fails before any body leaves no file behind.
    bool Create() {
        if (file == nullptr && !createFailed) {
            file = std::fopen(path->c_str(), "wb");
            createFailed = file == nullptr;
        }
        return file != nullptr;
    }
};

size_t OnHeader(char* /*data*/, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->answered = true;
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (!transfer->Create()) {
        return 0;  // curl ends the transfer with a write error
    }
    return std::fwrite(data, 1, bytes, transfer->file) == bytes ? bytes : 0;
}

// libcurl calls this often while data flows and about once a second while nothing does, so
// the overall bound is seen within a second of passing; non-zero aborts the transfer.
int OnProgress(void* user, curl_off_t /*dlTotal*/, curl_off_t /*dlNow*/, curl_off_t /*ulTotal*/,
               curl_off_t /*ulNow*/) {
    const auto* transfer = static_cast<const Transfer*>(user);
    return transfer->deadline->Passed() ? 1 : 0;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

DownloadResult DownloadUrlToHostFile(std::string_view url, const std::string& hostPath,
                                     const std::function<bool()>& connected,
                                     const DownloadBounds& bounds) {
    if (connected && !connected()) {
        return DownloadResult::NotConnected;
    }
    if (!StartCurl()) {
        return DownloadResult::NotConnected;
    }
    const std::unique_ptr<CURL, CurlDeleter> session(curl_easy_init());
    if (!session) {
        return DownloadResult::NotConnected;
    }
    CURL* curl = session.get();
    const std::string agent = "Agent" + std::to_string(static_cast<long>(GetTickCount()));
    const std::string target(url);
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, "Accept: */*"));
    // What INTERNET_FLAG_RELOAD and INTERNET_FLAG_PRAGMA_NOCACHE ask of caches on the way.
    curl_slist_append(headers.get(), "Pragma: no-cache");
    curl_slist_append(headers.get(), "Cache-Control: no-cache");
    const Deadline deadline(bounds.totalMs, bounds.clock);
    Transfer transfer;
    transfer.path = &hostPath;
    transfer.deadline = &deadline;

    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadBlockBytes));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kDownloadConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kDownloadStallSeconds);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = curl_easy_perform(curl);
    if (transfer.createFailed) {
        return DownloadResult::FileFailed;
    }
    if (code != CURLE_OK) {
        return transfer.answered ? DownloadResult::ReadFailed : DownloadResult::UrlFailed;
    }
    // An empty body still leaves an (empty) file, as an immediate end of the reads did.
    if (!transfer.Create()) {
        return DownloadResult::FileFailed;
    }
    if (std::fflush(transfer.file) != 0) {
        return DownloadResult::ReadFailed;
    }
    return DownloadResult::Done;
}

}  // namespace lumidex::platform
