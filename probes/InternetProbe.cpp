#include "probes/InternetProbe.h"

#include <atomic>
#include <memory>

#include "engine/Endpoints.h"
#include "net/HttpGetClient.h"
#include "platform/Event.h"
#include "platform/TextSplitter.h"
#include "platform/WorkerThread.h"

namespace lumidex {
namespace {

constexpr char kSiteThreadName[] = "检测Ineternet连接";

// What the waiting run and all its site threads share. Each thread co-owns it, so a thread
// that outlives its stop budget still finds the counter and the event alive.
struct RunState {
    explicit RunState(std::uint16_t enoughSites) : enough(enoughSites) {}
    std::atomic<std::uint16_t> answered{0};
    const std::uint16_t enough;
    platform::Event wakeUp{false};  // auto-reset: one wake per wait
};

// One site's connection attempt on its own thread.
struct SiteAttempt {
    SiteAttempt(std::shared_ptr<RunState> run, std::string site)
        : run(std::move(run)), host(std::move(site)) {}
    std::shared_ptr<RunState> run;
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
    SiteWorker(std::shared_ptr<RunState> run, std::string host)
        : m_attempt(std::make_shared<SiteAttempt>(std::move(run), std::move(host))) {}
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
        if (attempt.abandoned || !attempt.connection.Connect(attempt.host, 0)) {
            return;
        }
        attempt.connection.Close();
        RunState& run = *attempt.run;
        if (++run.answered >= run.enough) {
            run.wakeUp.Set();
        }
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

unsigned CheckInternetConnection(const std::vector<std::string>& sites,
                                 const InternetProbeTiming& timing) {
    if (sites.empty()) {
        return 0;
    }
    const auto run = std::make_shared<RunState>(timing.enough);
    std::vector<std::unique_ptr<SiteWorker>> workers;
    std::vector<bool> started;
    workers.reserve(sites.size());
    for (const std::string& site : sites) {
        workers.push_back(std::make_unique<SiteWorker>(run, site));
        // A thread that cannot start simply does not count.
        started.push_back(workers.back()->Start(kSiteThreadName));
    }
    run->wakeUp.Wait(timing.waitMs);
    // Successes after this moment do not count.
    const unsigned answered = run->answered.load();
    const unsigned percentage = answered * 100u / static_cast<unsigned>(sites.size());
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
    return percentage;
}

}  // namespace lumidex
