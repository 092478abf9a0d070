// Finding the client's process and its ports, in a fixture /proc and in the real one.
#include "platform/ClientProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/UniqueFd.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::platform {
namespace {

namespace fs = std::filesystem;

TEST(ClientProcess, ProgramUnderTheInstallLocation) {
    const struct {
        const char* argument;
        const char* directory;
        bool under;
    } cases[] = {
        {"C:\\Program Files\\Kelvora\\Kelvora.exe", "C:\\Program Files\\Kelvora\\", true},
        {"c:\\program files\\KELVORA\\bin\\k.EXE", "C:\\Program Files\\Kelvora", true},
        {"/home/u/.wine/drive_c/Kelvora/Kelvora.exe", "/home/u/.wine/drive_c/Kelvora", true},
        {"C:\\Program Files\\Kelvora2\\Kelvora.exe", "C:\\Program Files\\Kelvora", false},
        {"C:\\Program Files\\Kelvora\\readme.txt", "C:\\Program Files\\Kelvora", false},
        {"C:\\Program Files\\Kelvora\\.exe", "C:\\Program Files\\Kelvora", false},
        {"C:\\Kelvora.exe", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsProgramUnder(c.argument, c.directory), c.under) << c.argument;
    }
}

constexpr char kTableHead[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode\n";

std::string TableLine(const char* local, const char* state, int inode) {
    return std::string("   0: ") + local + " 00000000:0000 " + state +
           " 00000000:00000000 00:00000000 00000000  1000        0 " + std::to_string(inode) +
           " 2 0000000000000000 0\n";
}

TEST(ClientProcess, SocketTableLines) {
    const std::string text = std::string(kTableHead) + TableLine("0100007F:1F90", "07", 555) +
                             "   1: garbage\n" + TableLine("0100007F:ZZZZ", "07", 9) +
                             TableLine("00000000000000000000000000000000:0050", "0A", 556);
    const std::vector<SocketEntry> entries = ParseSocketTable(text);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].localPort, 8080);
    EXPECT_EQ(entries[0].inode, 555u);
    EXPECT_EQ(entries[1].localPort, 80);
    EXPECT_EQ(entries[1].state, 0x0A);
}

class FixtureProc {
public:
    void Process(int pid, const std::string& cmdline, const std::vector<int>& sockets) const {
        const fs::path dir = m_root.path() / std::to_string(pid);
        fs::create_directories(dir / "fd");
        testing::WriteFile(dir / "cmdline", cmdline);
        int fd = 3;
        for (const int inode : sockets) {
            fs::create_symlink("socket:[" + std::to_string(inode) + "]",
                               dir / "fd" / std::to_string(fd++));
        }
        fs::create_symlink("/dev/null", dir / "fd" / std::to_string(fd));
    }
    void Table(const char* name, const std::string& lines) const {
        fs::create_directories(m_root.path() / "net");
        testing::WriteFile(m_root.path() / "net" / name, kTableHead + lines);
    }
    std::string Root() const { return m_root.path().string(); }

private:
    testing::TempDir m_root;
};

TEST(ClientProcess, TheClientAmongTheUsersProcesses) {
    using namespace std::string_literals;
    const std::string dir = "C:\\Program Files\\Kelvora\\";
    FixtureProc proc;
    proc.Process(100, "/usr/bin/bash\0-l\0"s, {900});
    proc.Process(200, "wine\0c:\\program files\\kelvora\\Kelvora.exe\0"s, {});
    proc.Process(300, "C:\\Program Files\\Kelvora\\Kelvora.exe\0"s, {555, 556, 557, 558});
    proc.Table("udp",
               TableLine("0100007F:1F90", "07", 555) + TableLine("0100007F:0035", "07", 900));
    proc.Table("udp6", TableLine("00000000000000000000000000000000:1F90", "07", 558));
    proc.Table("tcp",
               TableLine("00000000:0050", "0A", 556) + TableLine("0100007F:1234", "01", 557));

    ClientProcess found = FindClientProcess(proc.Root(), {dir});
    EXPECT_TRUE(found.running);
    EXPECT_EQ(found.pid, 300);  // the one holding sockets, not the first
    EXPECT_EQ(found.ports.udp, std::vector<std::uint16_t>{8080});
    EXPECT_EQ(found.ports.tcp, std::vector<std::uint16_t>{80});  // not the connected one

    found = FindClientProcess(proc.Root(), {"C:\\Program Files\\Other\\"});
    EXPECT_FALSE(found.running);
    EXPECT_FALSE(found.pid.has_value());
}

TEST(ClientProcess, ThisProcesssOwnBoundSocketIsSeenWithItsPort) {
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(udp);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(udp.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::uint16_t port = ntohs(address.sin_port);

    const ProcessPorts ports = PortsOfProcess("/proc", static_cast<int>(::getpid()));
    EXPECT_NE(std::find(ports.udp.begin(), ports.udp.end(), port), ports.udp.end()) << port;
}

}  // namespace
}  // namespace lumidex::platform
