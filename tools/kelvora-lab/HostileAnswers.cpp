#include "tools/kelvora-lab/HostileAnswers.h"

#include <cstdio>
#include <vector>

namespace lumidex::lab {
namespace {

constexpr char kOkHead[] = "HTTP/1.1 200 OK\r\nServer: kelvora-lab\r\nContent-Type: text/xml\r\n";

std::string ChunkedBody(const std::string& body) {
    std::string out;
    constexpr std::size_t kPiece = 4096;
    for (std::size_t pos = 0; pos < body.size(); pos += kPiece) {
        const std::string piece = body.substr(pos, kPiece);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string WithLength(const std::string& body) {
    return std::string(kOkHead) +
           "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// Channels of wide-range servers: channel i names servers first + i * perLabel onwards, the
// first of them as its channel server, the rest as trackers.
std::string WideChannels(std::size_t first, std::size_t channels, std::size_t perLabel) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<Channels>\r\n";
    std::vector<ServerRecord> records(perLabel);
    for (std::size_t i = 0; i < channels; ++i) {
        for (std::size_t j = 0; j < perLabel; ++j) {
            records[j] = WideRecord(static_cast<std::uint32_t>(first + i * perLabel + j),
                                    j == 0 ? 7201 : 8000);
        }
        xml += "<Channel id=\"" + std::to_string(i + 1) + "\"><URL>klv://" + EncodeLabel(records) +
               ".klv/live/" + std::to_string(i + 1) + "</URL></Channel>\r\n";
    }
    return xml + "</Channels>\r\n";
}

// The lab's list with filler channels (web URLs, as a published list has them) before its
// end, to exactly kHugeListBytes.
std::string Huge(const std::string& labList) {
    const std::string end = "</Channels>\r\n";
    const std::size_t at = labList.rfind(end);
    std::string xml = labList.substr(0, at);
    const std::string filler =
        "<Channel id=\"0\" name=\"filler\"><URL>http://filler.lab.invalid/"
        "</URL></Channel>\r\n";
    const std::size_t tail = labList.size() - at;
    xml.reserve(kHugeListBytes);
    while (xml.size() + filler.size() + tail <= kHugeListBytes) {
        xml += filler;
    }
    // What is left over is white space between elements.
    xml.append(kHugeListBytes - tail - xml.size(), ' ');
    return xml + labList.substr(at);
}

}  // namespace

ServerRecord WideRecord(std::uint32_t n, std::uint16_t port) {
    const std::uint32_t address = kWideNetFirst + n % kWideNetSize;
    ServerRecord record;
    record.address[0] = static_cast<std::uint8_t>(address >> 24);
    record.address[1] = static_cast<std::uint8_t>(address >> 16);
    record.address[2] = static_cast<std::uint8_t>(address >> 8);
    record.address[3] = static_cast<std::uint8_t>(address);
    record.port = port;
    return record;
}

bool IsHostile(ChannelListMode mode) {
    switch (mode) {
        case ChannelListMode::DripHead:
        case ChannelListMode::EndlessHeader:
        case ChannelListMode::ChunkExtensionBomb:
        case ChannelListMode::ChunkZeros:
        case ChannelListMode::LengthAndChunked:
        case ChannelListMode::Huge:
        case ChannelListMode::Million:
        case ChannelListMode::Fresh:
            return true;
        default:
            return false;
    }
}

std::string HostileChannelList(ChannelListMode mode, const std::string& labList,
                               std::size_t request) {
    switch (mode) {
        case ChannelListMode::Huge:
            return Huge(labList);
        case ChannelListMode::Million:
            return WideChannels(0, (kMillionServers + kRecordsPerLabel - 1) / kRecordsPerLabel,
                                kRecordsPerLabel);
        case ChannelListMode::Fresh: {
            const std::size_t perLabel = 1 + kFreshTrackersPerServer;
            return WideChannels(request * kFreshChannelServers * perLabel, kFreshChannelServers,
                                perLabel);
        }
        default:
            return labList;
    }
}

HttpAnswer AnswerHostileChannelList(const HttpRequest& request, ChannelListMode mode,
                                    const std::string& body) {
    if (request.method != "GET" || request.target != kChannelListPath) {
        return AnswerBadRequest();
    }
    HttpAnswer answer;
    answer.closeAfter = true;
    switch (mode) {
        case ChannelListMode::DripHead:
            answer.drip = WithLength(body);
            break;
        case ChannelListMode::EndlessHeader:
            answer.bytes = std::string(kOkHead) + "X-Lab-Endless: ";
            answer.endless = std::string(4096, 'a');
            break;
        case ChannelListMode::ChunkExtensionBomb:
            answer.bytes = std::string(kOkHead) + "Transfer-Encoding: chunked\r\n\r\n100;";
            answer.endless.reserve(4096);
            while (answer.endless.size() < 4096) {
                answer.endless += "ext=bomb;";
            }
            break;
        case ChannelListMode::ChunkZeros: {
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", body.size());
            answer.bytes = std::string(kOkHead) +
                           "Connection: close\r\nTransfer-Encoding: " + "chunked\r\n\r\n" +
                           std::string(kChunkSizeZeros, '0') + size + body + "\r\n0\r\n\r\n";
            break;
        }
        case ChannelListMode::LengthAndChunked: {
            // The length is that of the chunked coding as sent, so either reading ends at the
            // same byte: what differs is whether the chunk lines count as body.
            const std::string chunked = ChunkedBody(body);
            answer.bytes = std::string(kOkHead) + "Connection: close\r\nContent-Length: " +
                           std::to_string(chunked.size()) +
                           "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked;
            break;
        }
        default:
            answer.bytes = WithLength(body);
            break;
    }
    return answer;
}

}  // namespace lumidex::lab
