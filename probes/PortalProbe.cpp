#include "probes/PortalProbe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/Diagnosis.h"
#include "probes/InternetProbe.h"

namespace lumidex {
namespace {

// One site's fetch. Its thread and the waiting caller share it, so a thread that outlives the
// wait (a name look-up that hangs) still finds everything it writes to.
struct Fetch {
    Fetch(std::string siteName, const PortalProbeTiming& timing, HostResolver resolver)
        : site(std::move(siteName)), client(timing.totalMs, std::move(resolver), timing.totalMs) {
        client.SetExchangeDeadline(timing.totalMs);
        client.SetResponseByteLimit(timing.readBytes);
    }
    const std::string site;
    HttpGetClient client;
    SiteAnswer answer;  // written by the thread before done is set
    double ms = 0;
    bool done = false;  // guarded by the shared mutex
};

struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
};

void RunFetch(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Fetch>& fetch,
              std::size_t readBytes) {
    const auto start = std::chrono::steady_clock::now();
    SiteAnswer answer;
    answer.site = fetch->site;
    answer.status =
        fetch->client.Get("http://" + fetch->site + "/",
                          "Accept: */*\r\nHost: " + fetch->site + "\r\nConnection: close\r\n");
    if (answer.status != 0) {
        answer.location = HeaderFieldValue(fetch->client.HeaderText(), "Location");
        answer.body = std::string(fetch->client.BodyText().substr(0, readBytes));
        // A body cut short keeps its announced length with zeros where nothing arrived.
        answer.body.erase(answer.body.find_last_not_of('\0') + 1);
    }
    fetch->client.Close();
    std::lock_guard lock(shared->mutex);
    fetch->answer = std::move(answer);
    fetch->ms = MillisecondsSince(start);
    fetch->done = true;
    shared->changed.notify_all();
}

}  // namespace

std::vector<std::string> PortalProbeSites() {
    std::vector<std::string> sites = PublicSiteList();
    if (sites.size() > kPortalProbeSites) {
        sites.resize(kPortalProbeSites);
    }
    return sites;
}

std::vector<SiteAnswer> FetchSiteAnswers(const std::vector<std::string>& sites,
                                         const PortalProbeTiming& timing, HostResolver resolver) {
    const auto shared = std::make_shared<Shared>();
    std::vector<std::shared_ptr<Fetch>> fetches;
    for (const std::string& site : sites) {
        auto fetch = std::make_shared<Fetch>(site, timing, resolver);
        try {
            std::thread(RunFetch, shared, fetch, timing.readBytes).detach();
        } catch (const std::system_error&) {
            fetch->done = true;  // never started: no answer
        }
        fetches.push_back(std::move(fetch));
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timing.totalMs);
    std::vector<SiteAnswer> answers;
    std::unique_lock lock(shared->mutex);
    shared->changed.wait_until(lock, deadline, [&] {
        return std::all_of(fetches.begin(), fetches.end(), [](const auto& f) { return f->done; });
    });
    for (const auto& fetch : fetches) {
        if (!fetch->done) {
            // Ends a connect or a receive at once; a look-up finishes on its own thread.
            fetch->client.Close();
            answers.push_back(SiteAnswer{fetch->site, 0, {}, {}});
            RecordProbe(
                {ProbeKind::Http, fetch->site, ProbeOutcome::Timeout, std::nullopt, "total"});
            continue;
        }
        answers.push_back(fetch->answer);
        const bool answered = fetch->answer.status != 0;
        RecordProbe({ProbeKind::Http, fetch->site,
                     answered ? ProbeOutcome::Ok : ProbeOutcome::Error,
                     answered ? std::optional<double>(fetch->ms) : std::nullopt, "total"});
    }
    return answers;
}

std::optional<PortalFinding> FindCaptivePortal(const std::vector<std::string>& sites,
                                               const PortalProbeTiming& timing,
                                               HostResolver resolver) {
    return JudgeInterception(FetchSiteAnswers(sites, timing, std::move(resolver)));
}

}  // namespace lumidex
