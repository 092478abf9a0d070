#include "platform/BoundedLookup.h"

#include <system_error>
#include <thread>

#include "platform/HostLookup.h"

namespace lumidex::platform {
namespace {

// How often a wait looks whether it was abandoned.
constexpr std::chrono::milliseconds kAbandonPoll{20};

}  // namespace

std::future<std::string> StartDottedLookup(std::string name) {
    try {
        return std::async(std::launch::async, [name = std::move(name)] {
            const std::uint32_t address = LookupHostIPv4(name);
            return address == 0 ? std::string() : DottedAddress(address);
        });
    } catch (const std::system_error&) {
        return {};  // no thread to bound it with: no answer rather than an unbounded wait
    }
}

std::string DottedAnswerBy(std::future<std::string> lookup,
                           std::chrono::steady_clock::time_point deadline,
                           const std::function<bool()>& abandoned) {
    if (!lookup.valid()) {
        return {};
    }
    while ((!abandoned || !abandoned()) && std::chrono::steady_clock::now() < deadline &&
           lookup.wait_for(kAbandonPoll) != std::future_status::ready) {
    }
    if (lookup.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        return lookup.get();
    }
    // The future's destructor would wait: the look-up is left to end on its own thread.
    std::thread([pending = std::move(lookup)]() mutable { pending.wait(); }).detach();
    return {};
}

}  // namespace lumidex::platform
