// The desktop's connectivity verdict: NetworkManager's numbers and names, and a reading that
// gives up at once or within its bound where no NetworkManager answers. A real bus with the
// service on it is the lab's (lab.desktop-*).
#include "platform/DesktopConnectivity.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "platform/UniqueFd.h"
#include "support/TempDir.h"

namespace {

using namespace lumidex::platform;
using namespace std::chrono_literals;
using lumidex::testing::TempDir;

TEST(DesktopConnectivity, NetworkManagerNumbersReadAsTheirNames) {
    const struct {
        std::uint32_t number;
        const char* name;
    } rows[] = {
        {0, "unknown"},
        {1, "none"},
        {2, "portal"},
        {3, "limited"},
        {4, "full"},
        // A state added after this was written claims nothing.
        {5, "unknown"},
        {0xFFFFFFFFu, "unknown"},
    };
    for (const auto& row : rows) {
        EXPECT_STREQ(DesktopConnectivityName(DesktopConnectivityFromNumber(row.number)), row.name)
            << row.number;
    }
}

// Points the system bus somewhere else for the life of the object.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address) {
        if (const char* old = ::getenv(kVariable)) {
            m_old = old;
        }
        ::setenv(kVariable, address.c_str(), 1);
    }
    ~SystemBusAddress() {
        if (m_old) {
            ::setenv(kVariable, m_old->c_str(), 1);
        } else {
            ::unsetenv(kVariable);
        }
    }

private:
    static constexpr char kVariable[] = "DBUS_SYSTEM_BUS_ADDRESS";
    std::optional<std::string> m_old;
};

// A socket that takes connections (into its backlog) and never says a word: a hung bus.
UniqueFd MuteListener(const std::string& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 8) != 0) {
        return {};
    }
    return fd;
}

TEST(DesktopConnectivity, AbsentWithoutWaitingPastTheBound) {
    const TempDir dir;
    const UniqueFd mute = MuteListener(dir / "mute");
    ASSERT_TRUE(mute);
    const struct {
        std::string address;
        DesktopSilence silence;
    } rows[] = {
        {"unix:path=" + (dir / "no-such-socket"), DesktopSilence::NoBus},
        {"no address at all", DesktopSilence::NoBus},
        {"unix:path=" + (dir / "mute"), DesktopSilence::TimedOut},
    };
    for (const auto& row : rows) {
        const SystemBusAddress bus(row.address);
        const auto start = std::chrono::steady_clock::now();
        const DesktopConnectivityReading reading = ReadDesktopConnectivityReading(200ms);
        // A hang guard, not a measure: the mute bus is given up on when the bound passes.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << row.address;
        EXPECT_FALSE(reading.state) << row.address;
        EXPECT_EQ(reading.silence, row.silence)
            << row.address << ": " << DescribeDesktopSilence(reading.silence);
    }
}

}  // namespace
