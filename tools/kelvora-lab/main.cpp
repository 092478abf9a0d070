// kelvora-lab: the far side of the lab network (test tooling; not installed).
//
//   kelvora-lab serve CONFIG.json    play the servers CONFIG names until SIGTERM or SIGINT
//   kelvora-lab endpoints [FILE]     print the program's endpoint list (the JSON of
//                                    lumidex-console --endpoints --json, from FILE or stdin)
//                                    as "role host port protocol" lines for shell scripts
//   kelvora-lab hold-tun NAME        attach to the tun device NAME until SIGTERM, so that it
//                                    has carrier (a dial-up link that is connected)
//   kelvora-lab slow-echo ADDRESS MS answer pings to ADDRESS after MS milliseconds until
//                                    SIGTERM (a slow gateway; its own echo switched off)
//   kelvora-lab echo-flood TARGET PER_SECOND     echo replies to TARGET from many hosts
//   kelvora-lab dns-delay DELAY_MS UPSTREAM_PORT ADDRESS...   a name server that answers late
//                                    (HostileTools.h)
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "tools/kelvora-lab/EventLog.h"
#include "tools/kelvora-lab/HostileTools.h"
#include "tools/kelvora-lab/LabConfig.h"
#include "tools/kelvora-lab/LabLimits.h"
#include "tools/kelvora-lab/Simulator.h"
#include "tools/kelvora-lab/SlowEcho.h"

namespace {

using lumidex::lab::Simulator;

constexpr std::size_t kMaxInputBytes = 4 * 1024 * 1024;

Simulator* g_simulator = nullptr;

extern "C" void OnStopSignal(int) {
    if (g_simulator != nullptr) {
        g_simulator->Stop();
    }
}

bool ReadAll(std::istream& in, std::string& out) {
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxInputBytes) {
            return false;
        }
    }
    out = std::move(text);
    return true;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    return in && ReadAll(in, out);
}

// Written beside and renamed into place: whoever waits for the file sees all of it or nothing.
bool WriteReadyFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int Serve(const std::string& configPath) {
    std::string text;
    if (!ReadFile(configPath, text)) {
        std::cerr << "kelvora-lab: cannot read " << configPath << "\n";
        return 1;
    }
    lumidex::lab::LabConfig config;
    std::string error;
    if (!lumidex::lab::ParseLabConfig(text, config, error)) {
        std::cerr << "kelvora-lab: " << configPath << ": " << error << "\n";
        return 1;
    }
    lumidex::lab::EventLog log;
    if (!log.Open(config.logPath, error)) {
        std::cerr << "kelvora-lab: log: " << error << "\n";
        return 1;
    }
    const std::string readyPath = config.readyPath;
    Simulator simulator(std::move(config), log);
    if (!simulator.Bind(error)) {
        std::cerr << "kelvora-lab: " << error << "\n";
        log.Line("lab", "cannot start: " + error);
        return 1;
    }
    g_simulator = &simulator;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (!readyPath.empty() && !WriteReadyFile(readyPath, "ready\n")) {
        std::cerr << "kelvora-lab: cannot write " << readyPath << "\n";
        return 1;
    }
    const bool ok = simulator.Run();
    g_simulator = nullptr;
    log.Line("lab", "stopped");
    return ok ? 0 : 1;
}

int Endpoints(int argc, char** argv) {
    std::string text;
    const bool read = argc > 2 ? ReadFile(argv[2], text) : ReadAll(std::cin, text);
    if (!read) {
        std::cerr << "kelvora-lab: cannot read the endpoint list\n";
        return 1;
    }
    std::vector<lumidex::lab::EndpointLine> lines;
    std::string error;
    if (!lumidex::lab::ParseEndpointList(text, lines, error)) {
        std::cerr << "kelvora-lab: endpoint list: " << error << "\n";
        return 1;
    }
    for (const auto& line : lines) {
        std::cout << line.role << ' ' << line.host << ' ' << line.port << ' ' << line.protocol
                  << '\n';
    }
    return std::cout.flush() ? 0 : 1;
}

void Usage() {
    std::cerr << "usage: kelvora-lab serve CONFIG.json\n"
                 "       kelvora-lab endpoints [FILE]\n"
                 "       kelvora-lab hold-tun NAME\n"
                 "       kelvora-lab slow-echo ADDRESS MS\n";
}

}  // namespace

// A persistent tun device has no carrier (NO-CARRIER, not RUNNING) until a process attaches
// to it; attached, it is up and running like a dialled point-to-point link.
int HoldTun(const char* name) {
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("kelvora-lab: /dev/net/tun");
        return 1;
    }
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        std::perror("kelvora-lab: TUNSETIFF");
        return 1;
    }
    std::cout << "holding " << name << std::endl;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    int signal = 0;
    sigwait(&stop, &signal);
    ::close(fd);
    return 0;
}

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "serve" && argc == 3) {
        return Serve(argv[2]);
    }
    if (command == "hold-tun" && argc == 3) {
        return HoldTun(argv[2]);
    }
    if (command == "slow-echo" && argc == 4) {
        char* end = nullptr;
        const long delayMs = std::strtol(argv[3], &end, 10);
        if (end == argv[3] || *end != '\0' || delayMs < 0 || delayMs > 60000) {
            Usage();
            return 2;
        }
        return lumidex::lab::SlowEcho(argv[2], static_cast<int>(delayMs));
    }
    if (command == "echo-flood") {
        return lumidex::lab::EchoFlood(argc, argv);
    }
    if (command == "dns-delay") {
        return lumidex::lab::DnsDelay(argc, argv);
    }
    if (command == "endpoints" && argc <= 3) {
        return Endpoints(argc, argv);
    }
    Usage();
    return 2;
}
