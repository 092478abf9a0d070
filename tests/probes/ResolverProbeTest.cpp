// The resolver check with scripted look-ups: what it asks, what it judges, and that a look-up
// that hangs costs no more than the bound.
#include "probes/ResolverProbe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace lumidex {
namespace {

TEST(ResolverProbe, InventedNameFirstThenProductNamesOnlyWhenItWasAnswered) {
    const std::string name = NonexistentName();
    EXPECT_EQ(name.rfind("lumidex-", 0), 0u);
    // Absolute, so that no search domain of resolv.conf is tried behind it.
    EXPECT_EQ(name.size(), std::string("lumidex-.invalid.").size() + 16);
    EXPECT_EQ(name.back(), '.');
    EXPECT_NE(name, NonexistentName());

    for (const bool hijacking : {false, true}) {
        SCOPED_TRACE(hijacking);
        auto asked = std::make_shared<std::vector<std::string>>();
        auto mutex = std::make_shared<std::mutex>();
        const AddressLookup lookup = [=](const std::string& host) -> std::vector<std::string> {
            std::lock_guard lock(*mutex);
            asked->push_back(host);
            if (host == "www.kelvora.com") {
                return {"198.51.100.11"};
            }
            return hijacking ? std::vector<std::string>{"198.51.100.90"}
                             : std::vector<std::string>{};
        };
        const ResolverFinding finding = CheckResolverAnswers(
            name, {"channel.kelvora.com", "www.kelvora.com", "list.kelvora.net"}, 2000, lookup);
        std::lock_guard lock(*mutex);
        if (!hijacking) {
            EXPECT_EQ(*asked, std::vector<std::string>{name});
            EXPECT_TRUE(finding.nonexistentNameAddresses.empty());
            continue;
        }
        EXPECT_EQ(asked->size(), 4u);
        EXPECT_EQ(finding.nonexistentNameAddresses, std::vector<std::string>{"198.51.100.90"});
        EXPECT_EQ(finding.hijackedNames,
                  (std::vector<std::string>{"channel.kelvora.com", "list.kelvora.net"}));
    }
}

TEST(ResolverProbe, LookUpThatHangsIsLeftToItsThreadAfterTheBound) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
        bool left = false;
    };
    auto gate = std::make_shared<Gate>();
    const AddressLookup hanging = [gate](const std::string&) {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [&] { return gate->open; });
        gate->left = true;
        gate->changed.notify_all();
        return std::vector<std::string>{"198.51.100.90"};
    };
    const auto start = std::chrono::steady_clock::now();
    const ResolverFinding finding = CheckResolverAnswers("x.invalid", {"a"}, 200, hanging);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_TRUE(finding.nonexistentNameAddresses.empty());
    // Let the abandoned look-up end, so nothing outlives the test.
    std::unique_lock lock(gate->mutex);
    gate->open = true;
    gate->changed.notify_all();
    gate->changed.wait(lock, [&] { return gate->left; });
}

}  // namespace
}  // namespace lumidex
