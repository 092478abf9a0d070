#include "probes/ResolverProbe.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/Endpoints.h"
#include "platform/HostLookup.h"
#include "platform/TextSplitter.h"
#include "probes/InterceptionJudge.h"

namespace lumidex {
namespace {

std::vector<std::string> SystemLookup(const std::string& name) {
    std::vector<std::string> dotted;
    for (const std::uint32_t address : platform::GetHostByName(name)) {
        dotted.push_back(platform::DottedAddress(address));
    }
    return dotted;
}

// What the look-up thread has learned so far. The thread and the waiting caller share it, so
// a thread that outlives the wait still finds it.
struct Lookups {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> nonexistent;
    std::vector<std::pair<std::string, std::vector<std::string>>> products;
    bool done = false;
};

void RunLookups(const std::shared_ptr<Lookups>& state, const std::string& name,
                const std::vector<std::string>& productNames, const AddressLookup& lookup) {
    std::vector<std::string> answered = lookup(name);
    {
        std::lock_guard lock(state->mutex);
        state->nonexistent = answered;
    }
    for (std::size_t i = 0; !answered.empty() && i < productNames.size(); ++i) {
        std::vector<std::string> addresses = lookup(productNames[i]);
        std::lock_guard lock(state->mutex);
        state->products.emplace_back(productNames[i], std::move(addresses));
    }
    std::lock_guard lock(state->mutex);
    state->done = true;
    state->changed.notify_all();
}

}  // namespace

std::string NonexistentName() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
    char name[48];
    std::snprintf(name, sizeof name, "lumidex-%016llx.invalid.",
                  static_cast<unsigned long long>(generator()));
    return name;
}

ResolverFinding CheckResolverAnswers(const std::string& name,
                                     const std::vector<std::string>& productNames, int boundMs,
                                     AddressLookup lookup) {
    if (!lookup) {
        lookup = SystemLookup;
    }
    const auto state = std::make_shared<Lookups>();
    try {
        std::thread(RunLookups, state, name, productNames, std::move(lookup)).detach();
    } catch (const std::system_error&) {
        return {};
    }
    std::unique_lock lock(state->mutex);
    state->changed.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return state->done; });
    return JudgeResolverAnswers(state->nonexistent, state->products);
}

std::vector<std::string> ProductHostNames() {
    std::vector<std::string> names = {endpoints::kChannelListHost};
    TextSplitter splitter;
    splitter.SetDelimiter(",");
    for (const char* group :
         {endpoints::kWebsiteHosts, endpoints::kInformationHosts, endpoints::kListHosts}) {
        splitter.Split(group);
        for (const std::string& host : splitter.Pieces()) {
            names.push_back(host);
        }
    }
    return names;
}

}  // namespace lumidex
