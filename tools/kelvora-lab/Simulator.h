// Plays every server on the far side of the lab network on the addresses it is given: the
// channel-list and download hosts over HTTP, TCP hosts that accept and close, UDP probe
// responders for channel servers and trackers, and the report server, which stores every
// request byte for byte. One thread, one poll loop; every socket and connection is owned here.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "tools/kelvora-lab/EventLog.h"
#include "tools/kelvora-lab/HttpRequestParser.h"
#include "tools/kelvora-lab/HttpResponses.h"
#include "tools/kelvora-lab/LabConfig.h"
#include "tools/kelvora-lab/ProbeAnswers.h"

namespace lumidex::lab {

enum class ServiceKind { ChannelList, Download, Report, Tcp, ChannelServer, Tracker };

class Simulator {
public:
    Simulator(LabConfig config, EventLog& log);

    // Opens every listener and responder; false with the reason when one cannot be bound.
    bool Bind(std::string& error);

    // The port a service ended up on (useful when the configuration asked for port 0); index
    // counts services of that kind in configuration order; 0 when there is no such service.
    std::uint16_t BoundPort(ServiceKind kind, std::size_t index = 0) const;

    // Serves until Stop(); returns false when polling itself failed.
    bool Run();

    // Safe from another thread and from a signal handler.
    void Stop();

    const std::string& ChannelListXml() const { return m_channelListXml; }

private:
    using Clock = std::chrono::steady_clock;

    struct Service {
        ServiceKind kind;
        std::size_t index;
        std::string address;
        std::uint16_t port;
        std::string name;  // "channel-list 198.51.100.10:80", for the log
        platform::UniqueFd fd;
    };

    enum class Phase {
        Reading,    // waiting for (the rest of) a request
        Grace,      // report complete; collecting trailing bytes before answering
        Writing,    // sending an answer
        Dripping,   // answer head sent; waiting to send the next dripped byte
        Holding,    // keeping the connection open without answering or closing
        Lingering,  // answer sent and write side shut; waiting for the peer to close
    };

    struct Connection {
        Connection(platform::UniqueFd socket, std::size_t serviceIndex, std::string from,
                   std::size_t maxBody)
            : fd(std::move(socket)),
              service(serviceIndex),
              peer(std::move(from)),
              parser(maxBody) {}
        platform::UniqueFd fd;
        std::size_t service;
        std::string peer;
        HttpRequestParser parser;
        Phase phase = Phase::Reading;
        std::string pending;     // received, not yet parsed (pipelined requests)
        std::string rawRequest;  // the bytes of the request being parsed
        std::string out;
        std::size_t outPos = 0;
        bool closeAfterWrite = false;
        bool holdAfterWrite = false;
        Clock::duration holdFor{};  // zero: kHoldTimeout
        std::string drip;           // still to send, a byte at a time
        std::size_t dripPos = 0;
        std::string endless;  // sent over and over once out is gone (up to kEndlessCapBytes)
        std::size_t endlessSent = 0;
        bool done = false;
        Clock::time_point deadline;
        // Report connections only: everything received, and where it was stored.
        std::string received;
        std::string storedPath;
        std::size_t storedBytes = 0;
        bool truncated = false;
    };

    struct PendingReply {
        Clock::time_point due;
        std::size_t service;
        sockaddr_in peer;
        std::vector<std::uint8_t> bytes;
    };

    bool BindService(Service& service, bool udp, std::string& error);
    Service& AddService(ServiceKind kind, std::size_t index, const std::string& address,
                        std::uint16_t port);
    bool BindHttpServices(std::string& error);
    bool BindTcpServices(std::string& error);
    bool BindUdpServers(std::string& error);
    bool BindOtherAddress(std::string& error);
    void AcceptAll(std::size_t serviceIndex);
    void ServeDatagrams(std::size_t serviceIndex);
    void AnswerProbe(std::size_t serviceIndex, const sockaddr_in& peer, const ProbeRequest& request,
                     std::string line);
    void ReadConnection(Connection& connection);
    void WriteConnection(Connection& connection);
    void ParsePending(Connection& connection);
    void OnRequest(Connection& connection);
    void OnReportComplete(Connection& connection);
    void StartAnswer(Connection& connection, HttpAnswer answer);
    void AfterWrite(Connection& connection);
    void OnDeadline(Connection& connection);
    void Close(Connection& connection, const std::string& why);
    void StoreReport(Connection& connection);
    void SendDue();
    void SendFlood(std::size_t serviceIndex, const sockaddr_in& peer, const ProbeRequest& request);
    HttpAnswer AnswerChannelListRequest(const HttpRequest& request);
    int PollTimeoutMs() const;
    const UdpServer& UdpConfig(const Service& service) const;

    LabConfig m_config;
    EventLog& m_log;
    std::string m_channelListXml;
    std::vector<Service> m_services;
    std::list<Connection> m_connections;
    std::deque<PendingReply> m_pendingReplies;  // kept in due order (one fixed delay)
    platform::UniqueFd m_otherSocket;
    platform::UniqueFd m_floodSocket;  // sends from any wide-range address (IP_PKTINFO)
    std::string m_hostileList;         // "huge" and "million": built at the first request
    std::size_t m_listRequests = 0;
    platform::UniqueFd m_stopRead;
    platform::UniqueFd m_stopWrite;
    int m_reportCount = 0;
};

}  // namespace lumidex::lab
