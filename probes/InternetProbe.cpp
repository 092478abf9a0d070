#include "probes/InternetProbe.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "engine/Endpoints.h"
#include "net/HttpGetClient.h"
#include "platform/Event.h"
#include "platform/TextSplitter.h"
#include "platform/WorkerThread.h"

namespace lumidex {
namespace {

constexpr char kSiteThreadName[] = "检测Ineternet连接";

// What the waiting run and all its site threads share. Each thread co-owns it, so a thread
// that outlives its stop budget still finds the results and the event alive.
struct RunState {
    RunState(std::uint16_t enoughSites, std::size_t sites) : enough(enoughSites), ends(sites) {}

    struct SiteEnd {
        bool ended = false;
        platform::ConnectResult result = platform::ConnectResult::NotOpen;
        double elapsedMs = 0;
        bool lookupFailed = false;
    };

    // A site's attempt ended; it counts only before the verdict is taken.
    void End(std::size_t site, platform::ConnectResult result, double elapsedMs,
             bool lookupFailed) {
        std::lock_guard lock(mutex);
        if (decided) {
            return;
        }
        ends[site] = {true, result, elapsedMs, lookupFailed};
        if (result == platform::ConnectResult::Connected && ++answered >= enough) {
            wakeUp.Set();
        }
    }

    const std::uint16_t enough;
    platform::Event wakeUp{false};  // auto-reset: one wake per wait
    std::mutex mutex;
    bool decided = false;  // the verdict is taken: what ends later does not count
    unsigned answered = 0;
    std::vector<SiteEnd> ends;
};

// One site's connection attempt on its own thread.
struct SiteAttempt {
    SiteAttempt(std::shared_ptr<RunState> run, std::size_t index, std::string site)
        : run(std::move(run)), index(index), host(std::move(site)) {}
    std::shared_ptr<RunState> run;
    const std::size_t index;
    std::string host;
    HttpGetClient connection;
    // Set before the run closes the connection, so a thread that had not even begun to
    // connect by then does not start an attempt nobody will close.
    std::atomic<bool> abandoned{false};
    // Set as the thread body's last step: from then on the worker may be destroyed.
    std::atomic<bool> ended{false};
};

class SiteWorker : public WorkerThread {
public:
    SiteWorker(std::shared_ptr<RunState> run, std::size_t index, std::string host)
        : m_attempt(std::make_shared<SiteAttempt>(std::move(run), index, std::move(host))) {}
    ~SiteWorker() override { Stop(nullptr, kUnlimitedStopMs); }

    bool Ended() const { return m_attempt->ended; }

    // Closing the socket ends a connect still pending on the worker's thread.
    void Abort() {
        m_attempt->abandoned = true;
        m_attempt->connection.Close();
    }

protected:
    int Run() override {
        const std::shared_ptr<SiteAttempt> attempt = m_attempt;
        Attempt(*attempt);
        attempt->ended = true;
        return 0;
    }

private:
    static void Attempt(SiteAttempt& attempt) {
        if (attempt.abandoned) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        if (attempt.connection.Connect(attempt.host, 0)) {
            attempt.connection.Close();
        }
        attempt.run->End(attempt.index, attempt.connection.LastConnectResult(),
                         MillisecondsSince(start), attempt.connection.LastLookupFailed());
    }

    std::shared_ptr<SiteAttempt> m_attempt;
};

}  // namespace

std::vector<std::string> PublicSiteList() {
    TextSplitter splitter;
    splitter.SetDelimiter(",");
    splitter.Split(endpoints::kPublicSites);
    return splitter.Pieces();
}

ProbeRecord ConnectRecord(std::string target, platform::ConnectResult result, double elapsedMs,
                          bool lookupFailed) {
    using platform::ConnectResult;
    if (lookupFailed) {
        return {ProbeKind::Dns, std::move(target), ProbeOutcome::Error, {}, "lookup"};
    }
    // Aborted here means the wait for the sites ended first: from the row's side, a time-out.
    const ProbeOutcome outcome =
        result == ConnectResult::Aborted ? ProbeOutcome::Timeout : ConnectOutcome(result);
    return {ProbeKind::Tcp, std::move(target), outcome,
            outcome == ProbeOutcome::Ok ? std::optional<double>(elapsedMs) : std::nullopt,
            "connect"};
}

unsigned CheckInternetConnection(const std::vector<std::string>& sites,
                                 const InternetProbeTiming& timing) {
    return ProbeInternetSites(sites, timing).percentage;
}

InternetProbeResult ProbeInternetSites(const std::vector<std::string>& sites,
                                       const InternetProbeTiming& timing) {
    InternetProbeResult verdict;
    if (sites.empty()) {
        return verdict;
    }
    const auto run = std::make_shared<RunState>(timing.enough, sites.size());
    std::vector<std::unique_ptr<SiteWorker>> workers;
    std::vector<bool> started;
    workers.reserve(sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        workers.push_back(std::make_unique<SiteWorker>(run, i, sites[i]));
        // A thread that cannot start simply does not count.
        started.push_back(workers.back()->Start(kSiteThreadName));
    }
    const bool enoughAnswered = run->wakeUp.Wait(timing.waitMs);
    {
        // Successes after this moment do not count.
        std::lock_guard lock(run->mutex);
        run->decided = true;
        verdict.percentage = run->answered * 100u / static_cast<unsigned>(sites.size());
        for (std::size_t i = 0; i < sites.size(); ++i) {
            const RunState::SiteEnd& end = run->ends[i];
            if (end.ended) {
                verdict.connects.push_back(
                    ConnectRecord(sites[i], end.result, end.elapsedMs, end.lookupFailed));
            } else if (!started[i]) {
                verdict.connects.push_back(
                    ConnectRecord(sites[i], platform::ConnectResult::NotOpen, 0));
            } else if (!enoughAnswered) {
                verdict.connects.push_back(
                    ConnectRecord(sites[i], platform::ConnectResult::TimedOut, 0));
            }
        }
    }
    for (std::size_t i = 0; i < workers.size(); ++i) {
        workers[i]->Abort();
        workers[i]->Stop(nullptr, timing.stopBudgetMs);
        // A thread still running after its budget (a name look-up that hangs) keeps its
        // worker: leaking it beats freeing it under the thread. The run state it shares
        // stays alive through its own reference.
        if (started[i] && !workers[i]->Ended()) {
            static_cast<void>(workers[i].release());
        }
        workers[i].reset();
    }
    return verdict;
}

}  // namespace lumidex
