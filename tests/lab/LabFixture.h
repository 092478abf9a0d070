// What every lab test stands on: the lab's notes ($LAB_DIR/lab.json) and the fixture that
// insists on running inside a lab.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace lumidex::labtest {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// How long a host that should answer may take in the lab: a hang guard, not a measure.
inline constexpr auto kGuard = 5s;
// How long a host that should stay silent is watched: well past any lab round trip.
inline constexpr auto kSilence = 600ms;

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Lab {
public:
    static const Lab& Get() {
        static const Lab lab;
        return lab;
    }

    const Json& Notes() const { return m_notes; }
    std::filesystem::path Dir() const { return m_dir; }
    std::string Setting(const char* name) const { return m_notes["settings"].value(name, ""); }
    // Whether the client can send beyond its own link: a default route on a link that is up.
    bool Routed() const { return Setting("DEFAULT_ROUTE") == "yes" && Setting("LINK") != "down"; }
    // Whether a router on the way forwards nothing but DNS: the far side is silent, names resolve.
    bool Cut() const { return Setting("BREAK") == "local" || Setting("BREAK") == "provider"; }
    // Whether a link drops a share of datagrams: one exchange's outcome is then chance.
    bool Lossy() const { return Setting("LOSS") != "none" && !Setting("LOSS").empty(); }

    // Hosts of a role, in endpoint order (duplicates of a name are kept once).
    std::vector<Json> Hosts(const std::string& role) const {
        std::vector<Json> hosts;
        for (const Json& host : m_notes["hosts"]) {
            if (host["role"] == role) {
                hosts.push_back(host);
            }
        }
        return hosts;
    }

private:
    Lab() {
        const char* dir = std::getenv("LAB_DIR");
        if (dir == nullptr) {
            return;
        }
        m_dir = dir;
        m_notes = Json::parse(ReadText(m_dir / "lab.json"), nullptr, false);
    }

    std::filesystem::path m_dir;
    Json m_notes;
};

class LabTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Lab::Get().Dir().empty())
            << "run inside the lab: scripts/lab --run SCENARIO -- lab_checks";
        ASSERT_TRUE(Lab::Get().Notes().is_object()) << "unreadable lab.json";
    }
    const Lab& lab() const { return Lab::Get(); }
};

}  // namespace lumidex::labtest
