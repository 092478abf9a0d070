#include "service/UdpServerProbe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/FindingsText.h"

namespace lumidex {
namespace {

constexpr char kProbeStart[] = "开始检测udp的连接";
constexpr char kSendFailed[] = "\r\n向服务器%d发送UDP包失败,%d次";
constexpr char kTimedOut[] = "\r\n向服务器%d发送UDP包超时，%d次";

// The server as the findings name it: its four wire bytes read as a signed little-endian int.
int FindingsNumber(const Ipv4Address& address) {
    return static_cast<std::int32_t>(address.LittleEndianValue());
}

void AddFinding(const char* format, const Ipv4Address& address, int attempts) {
    char line[128];
    std::snprintf(line, sizeof line, format, FindingsNumber(address), attempts);
    TheFindingsText().Append(line);
}

}  // namespace

std::vector<bool> ChooseSample(std::size_t listSize, int sampleSize, SampleRandom& random) {
    std::vector<bool> chosen(listSize, false);
    random.Seed();
    for (std::size_t i = 0; static_cast<long long>(i) < sampleSize && i < listSize; ++i) {
        std::size_t index = 0;
        do {
            index = static_cast<unsigned>(random.Next()) % listSize;
        } while (chosen[index]);
        chosen[index] = true;
    }
    return chosen;
}

namespace {

// One attempt: true when the server itself answered with a probe reply.
bool Attempt(UdpProbeSocket& socket, const ServerRecord& server, int& attempts) {
    if (!socket.SendProbeRequest(server)) {
        AddFinding(kSendFailed, server.address, ++attempts);
        return false;
    }
    const ProbeReplyResult reply = socket.ReceiveProbeReply();
    if (reply.kind == ProbeReceive::Accepted && reply.sender == server.address) {
        return true;
    }
    // A late answer of another server, a malformed datagram and silence all count alike.
    AddFinding(kTimedOut, server.address, ++attempts);
    return false;
}

}  // namespace

void CRuntimeRandom::Seed() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
}

int CRuntimeRandom::Next() {
    return std::rand();
}

std::vector<UdpAttemptRecord> RunServerAttempts(UdpProbeSocket& socket,
                                                const ServerRecord& server) {
    std::vector<UdpAttemptRecord> records;
    int attempts = 0;
    while (attempts < kProbeAttemptsPerServer) {
        UdpAttemptRecord& record = records.emplace_back();
        const CaptureScope scope(record.capture);
        record.answered = Attempt(socket, server, attempts);
        if (record.answered) {
            break;
        }
    }
    return records;
}

std::vector<ServerAttempts> StartServerAttempts(ProbeTasks& tasks,
                                                const std::vector<ServerRecord>& entries,
                                                const std::vector<bool>& chosen,
                                                std::chrono::milliseconds receiveTimeout) {
    std::vector<ServerAttempts> attempts(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!chosen[i]) {
            continue;
        }
        attempts[i] =
            tasks.Start<std::vector<UdpAttemptRecord>>([server = entries[i], receiveTimeout] {
                UdpProbeSocket socket(receiveTimeout);
                socket.Open(0);
                return RunServerAttempts(socket, server);
            });
    }
    return attempts;
}

UdpAttemptStep ReplayAttempts(const std::vector<ServerAttempts>& attempts) {
    auto taken = std::make_shared<std::vector<std::size_t>>(attempts.size(), 0);
    return [&attempts, taken](std::size_t i, int& attemptCount) {
        const std::vector<UdpAttemptRecord>& records = attempts[i].get().value;
        if ((*taken)[i] >= records.size()) {  // abandoned before it began
            ++attemptCount;
            return false;
        }
        const UdpAttemptRecord& record = records[(*taken)[i]++];
        record.capture.Replay();
        if (!record.answered) {
            ++attemptCount;
        }
        return record.answered;
    };
}

int WalkUdpServers(const std::vector<ServerRecord>& entries, const std::vector<bool>& chosen,
                   ProbeReporter& reporter, const UdpAttemptStep& attempt) {
    TheDiagLog().Write(kProbeStart, 1);
    int answered = 0;
    bool stopped = false;
    for (std::size_t i = 0; i < entries.size() && !stopped; ++i) {
        if (!chosen[i]) {
            stopped = reporter.StopIfRequestedAtOnce();
            continue;
        }
        int attempts = 0;
        while (!stopped) {
            const bool answer = attempt(i, attempts);
            if (answer) {
                ++answered;
            }
            const bool done = answer || attempts >= kProbeAttemptsPerServer;
            if (done) {
                reporter.AdvanceProgress();
            }
            stopped = reporter.StopIfRequested();
            if (done) {
                break;
            }
        }
    }
    if (answered == 0) {
        reporter.Counters().reportable = 1;
    }
    return answered;
}

int ProbeUdpServers(UdpProbeSocket& socket, const ServerList& servers, int sampleSize,
                    ProbeReporter& reporter, SampleRandom& random) {
    if (servers.Empty()) {
        return 0;
    }
    const std::vector<ServerRecord> entries = servers.Entries();
    const std::vector<bool> chosen = ChooseSample(entries.size(), sampleSize, random);
    return WalkUdpServers(entries, chosen, reporter, [&](std::size_t i, int& attempts) {
        return Attempt(socket, entries[i], attempts);
    });
}

int ProbeUdpServers(UdpProbeSocket& socket, const ServerList& servers, int sampleSize,
                    ProbeReporter& reporter) {
    CRuntimeRandom random;
    return ProbeUdpServers(socket, servers, sampleSize, reporter, random);
}

}  // namespace lumidex
