#include "service/UdpServerProbe.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
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

// "a.b.c.d:port", as probes and problems name a server.
std::string Target(const ServerRecord& server) {
    return server.address.Dotted() + ":" + std::to_string(server.port);
}

void RecordAnswer(const ServerRecord& server, ProbeOutcome outcome, std::optional<double> rttMs) {
    RecordProbe({ProbeKind::Udp, Target(server), outcome, rttMs, "answer"});
}

bool Listed(const std::vector<ServerRecord>& servers, const Ipv4Address& address) {
    return std::any_of(servers.begin(), servers.end(),
                       [&](const ServerRecord& listed) { return listed.address == address; });
}

// One attempt: answered only when the server itself answered with a probe reply. A probe
// reply from another server of the list is that server's late answer, silence for this one;
// from an address the list does not name, or any other datagram, it is an odd reply.
UdpAttempt Attempt(UdpProbeSocket& socket, const ServerRecord& server,
                   const std::vector<ServerRecord>& listed, int& attempts) {
    const auto sentAt = std::chrono::steady_clock::now();
    if (!socket.SendProbeRequest(server)) {
        RecordAnswer(server, ProbeOutcome::Error, std::nullopt);
        AddFinding(kSendFailed, server.address, ++attempts);
        return UdpAttempt::Silent;
    }
    const ProbeReplyResult reply = socket.ReceiveProbeReply();
    const double rttMs = MillisecondsSince(sentAt);
    if (reply.kind == ProbeReceive::Accepted && reply.sender == server.address) {
        RecordAnswer(server, ProbeOutcome::Ok, rttMs);
        return UdpAttempt::Answered;
    }
    // A late answer of another server, a malformed datagram and silence all count alike.
    const bool odd = reply.kind != ProbeReceive::Nothing &&
                     !(reply.kind == ProbeReceive::Accepted && Listed(listed, reply.sender));
    RecordAnswer(server, odd ? ProbeOutcome::Malformed : ProbeOutcome::Timeout,
                 odd ? std::optional<double>(rttMs) : std::nullopt);
    AddFinding(kTimedOut, server.address, ++attempts);
    return odd ? UdpAttempt::OddReply : UdpAttempt::Silent;
}

// The sampled servers that were done without an answer, and those that sent odd replies
// (answered in the end or not), for the row of the group.
void NoteServerProblems(ServerGroup group, int answered, std::vector<std::string> silent,
                        std::vector<std::string> odd) {
    // Some answers keep the row Ok: the servers that failed are then a warning.
    const Severity severity = answered > 0 ? Severity::Warning : Severity::Error;
    if (!silent.empty()) {
        NoteProblem(MakeProblemAs(severity,
                                  group == ServerGroup::Trackers
                                      ? ProblemCode::TrackersSilent
                                      : ProblemCode::ChannelServersSilent,
                                  std::move(silent)));
    }
    if (!odd.empty()) {
        NoteProblem(MakeProblemAs(severity, ProblemCode::UdpRepliesMalformed, std::move(odd)));
    }
}

}  // namespace

void CRuntimeRandom::Seed() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
}

int CRuntimeRandom::Next() {
    return std::rand();
}

std::vector<UdpAttemptRecord> RunServerAttempts(UdpProbeSocket& socket, const ServerRecord& server,
                                                const std::vector<ServerRecord>& listed,
                                                const std::function<bool()>& stopPressed) {
    std::vector<UdpAttemptRecord> records;
    int attempts = 0;
    while (attempts < kProbeAttemptsPerServer && !(stopPressed && stopPressed())) {
        UdpAttemptRecord& record = records.emplace_back();
        const CaptureScope scope(record.capture);
        record.result = Attempt(socket, server, listed, attempts);
        if (record.result == UdpAttempt::Answered) {
            break;
        }
    }
    return records;
}

std::vector<ServerAttempts> StartServerAttempts(ProbeTasks& tasks,
                                                const std::vector<ServerRecord>& entries,
                                                const std::vector<bool>& chosen,
                                                std::chrono::milliseconds receiveTimeout,
                                                std::function<bool()> stopPressed) {
    std::vector<ServerAttempts> attempts(entries.size());
    const auto listed = std::make_shared<const std::vector<ServerRecord>>(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!chosen[i]) {
            continue;
        }
        attempts[i] = tasks.Start<std::vector<UdpAttemptRecord>>(
            [&tasks, server = entries[i], listed, receiveTimeout, stopPressed] {
                UdpProbeSocket socket(receiveTimeout);
                socket.Open(0);
                // After the open, so that the cancel never meets the socket being made; a
                // cancel that came first shuts it at once. An abandoned run neither waits
                // out a silent server nor sends it anything more.
                const ProbeTasks::CancelHook hook(&tasks, [&socket] { socket.Cancel(); });
                return RunServerAttempts(socket, server, *listed, stopPressed);
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
            return UdpAttempt::Silent;
        }
        const UdpAttemptRecord& record = records[(*taken)[i]++];
        record.capture.Replay();
        if (record.result != UdpAttempt::Answered) {
            ++attemptCount;
        }
        return record.result;
    };
}

int WalkUdpServers(ServerGroup group, const std::vector<ServerRecord>& entries,
                   const std::vector<bool>& chosen, ProbeReporter& reporter,
                   const UdpAttemptStep& attempt) {
    TheDiagLog().Write(kProbeStart, 1);
    int answered = 0;
    bool stopped = false;
    std::vector<std::string> silent;
    std::vector<std::string> odd;
    for (std::size_t i = 0; i < entries.size() && !stopped; ++i) {
        if (!chosen[i]) {
            stopped = reporter.StopIfRequestedAtOnce();
            continue;
        }
        int attempts = 0;
        bool sawOdd = false;
        while (!stopped) {
            const UdpAttempt result = attempt(i, attempts);
            const bool answer = result == UdpAttempt::Answered;
            sawOdd = sawOdd || result == UdpAttempt::OddReply;
            if (answer) {
                ++answered;
            }
            const bool done = answer || attempts >= kProbeAttemptsPerServer;
            if (done) {
                if (sawOdd) {
                    odd.push_back(Target(entries[i]));
                } else if (!answer) {
                    silent.push_back(Target(entries[i]));
                }
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
    NoteServerProblems(group, answered, std::move(silent), std::move(odd));
    return answered;
}

int ProbeUdpServers(ServerGroup group, UdpProbeSocket& socket, const ServerList& servers,
                    int sampleSize, ProbeReporter& reporter, SampleRandom& random) {
    if (servers.Empty()) {
        return 0;
    }
    const std::vector<ServerRecord> entries = servers.Entries();
    const std::vector<bool> chosen = ChooseSample(entries.size(), sampleSize, random);
    return WalkUdpServers(group, entries, chosen, reporter, [&](std::size_t i, int& attempts) {
        return Attempt(socket, entries[i], entries, attempts);
    });
}

int ProbeUdpServers(ServerGroup group, UdpProbeSocket& socket, const ServerList& servers,
                    int sampleSize, ProbeReporter& reporter) {
    CRuntimeRandom random;
    return ProbeUdpServers(group, socket, servers, sampleSize, reporter, random);
}

}  // namespace lumidex
