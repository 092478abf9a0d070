// Readers on several threads while the hive is replaced underneath them, the way Wine saves
// it (write a new file, rename it over the old one).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "support/FixturePrefix.h"

namespace lumidex::platform {
namespace {

void ReplaceHive(const std::filesystem::path& prefix, const std::string& text) {
    const auto temp = prefix / "system.reg.new";
    std::ofstream(temp, std::ios::binary | std::ios::trunc)
        << "WINE REGISTRY Version 2\n[Software\\\\Lumidex] 1\n\"Text\"=\"" << text << "\"\n";
    std::filesystem::rename(temp, prefix / "system.reg");
}

TEST(RegistryConcurrency, ReadersSeeWholeVersionsWhileTheHiveIsReplaced) {
    testing::TempDir prefix;
    ReplaceHive(prefix.path(), "one");
    ::setenv("WINEPREFIX", prefix.path().c_str(), 1);

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const auto key = RegistryKey::Open(RootKey::LocalMachine, "Software\\Lumidex");
                std::array<uint8_t, 16> buffer{};
                const auto result = key ? key->QueryValue("Text", buffer) : RegQueryResult{};
                const std::string text(reinterpret_cast<const char*>(buffer.data()));
                if (result.status != RegStatus::Success || (text != "one" && text != "three")) {
                    bad.fetch_add(1);
                }
                reads.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 200 || reads.load() < 200; ++round) {
        ReplaceHive(prefix.path(), round % 2 == 0 ? "three" : "one");
    }
    done.store(true);
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace lumidex::platform
