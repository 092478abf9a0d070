#include "ServiceFuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/AddressLabel.h"
#include "service/HostsFileCheck.h"
#include "service/ProbeDatagram.h"
#include "service/ServiceHostLists.h"
#include "service/ServiceLimits.h"
#include "service/ServiceUrl.h"
#include "service/XmlDocument.h"

namespace {

using namespace lumidex;

[[noreturn]] void Broken(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

std::string_view View(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Walks the tree without recursion: depth, positions and the states of an accepted parse.
void CheckTree(const XmlDocument& document, bool accepted, size_t size) {
    std::vector<std::pair<const XmlNode*, size_t>> pending;
    for (const auto& node : document.TopLevel()) {
        pending.emplace_back(node.get(), 1);
    }
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (node->Kind() == XmlNodeKind::Element && depth > kMaxXmlDepth) {
            Broken("FuzzXmlDocument", "a tree deeper than the limit");
        }
        if (node->position < 0 || static_cast<size_t>(node->position) > size) {
            Broken("FuzzXmlDocument", "a node outside the text");
        }
        if (accepted && node->parseState != kXmlParsed) {
            Broken("FuzzXmlDocument", "an accepted tree with a failed node");
        }
        if (const XmlElement* element = AsElement(*node)) {
            if (accepted && (element->value.empty() ||
                             (element->value[0] >= '0' && element->value[0] <= '9'))) {
                Broken("FuzzXmlDocument", "an accepted element with a bad name");
            }
            for (const auto& child : element->children) {
                pending.emplace_back(child.get(), depth + 1);
            }
        }
    }
}

}  // namespace

int FuzzXmlDocument(const uint8_t* data, size_t size) {
    const std::string_view text = View(data, size);
    for (const bool several : {false, true}) {
        XmlDocument document;
        const bool accepted = document.Parse(text, several);
        if (accepted != (document.Error() == XmlError::None)) {
            Broken("FuzzXmlDocument", "result and error disagree");
        }
        if (document.Root() != nullptr) {
            const XmlNode* first = nullptr;
            for (const auto& node : document.TopLevel()) {
                if (node->Kind() == XmlNodeKind::Element) {
                    first = node.get();
                    break;
                }
            }
            if (first != document.Root()) {
                Broken("FuzzXmlDocument", "the root is not the first top-level element");
            }
        }
        CheckTree(document, accepted, size);
    }
    return 0;
}

int FuzzChannelList(const uint8_t* data, size_t size) {
    ServiceHostLists lists;
    lists.SetChannelListText(std::string(View(data, size)));
    lists.ParseChannelList();
    const auto servers = lists.ChannelServers().Entries();
    const auto trackers = lists.Trackers().Entries();
    // Every server needs a URL of a dozen bytes or more.
    if (servers.size() + trackers.size() > size / 8) {
        Broken("FuzzChannelList", "more servers than the text can name");
    }
    // The lists only grow: the same text again adds nothing.
    lists.ParseChannelList();
    if (lists.ChannelServers().Entries() != servers || lists.Trackers().Entries() != trackers) {
        Broken("FuzzChannelList", "the same list read twice changed the servers");
    }
    return 0;
}

int FuzzServiceUrl(const uint8_t* data, size_t size) {
    const std::string_view text = View(data, size);
    ServiceUrl url;
    url.Split(text);
    if (url.url != text || (url.queryMark == '\0' && !url.query.empty()) ||
        !url.path.ends_with(url.fileName) || url.addresses.size() > kMaxLabelRecords ||
        (!url.addressHost && !url.addresses.empty())) {
        Broken("FuzzServiceUrl", "the parts do not fit the text");
    }
    if (!url.addresses.empty() && (url.host != url.addresses.front().address.Dotted() ||
                                   url.port != url.addresses.front().port)) {
        Broken("FuzzServiceUrl", "host and port are not the first record's");
    }
    const std::string host = url.addressHost ? "" : url.host;
    for (const std::string* part : std::initializer_list<const std::string*>{
             &url.scheme, &url.user, &url.password, &host, &url.path, &url.query}) {
        if (text.find(*part) == std::string_view::npos) {
            Broken("FuzzServiceUrl", "a part that is not in the text");
        }
    }
    // Split clears what an earlier URL left.
    ServiceUrl reused;
    reused.Split(std::string(text.rbegin(), text.rend()) + "://u:p@x.klv:1/a/b?q");
    reused.Split(text);
    if (reused.url != url.url || reused.scheme != url.scheme || reused.user != url.user ||
        reused.password != url.password || reused.host != url.host || reused.port != url.port ||
        reused.addresses != url.addresses || reused.path != url.path ||
        reused.fileName != url.fileName || reused.queryMark != url.queryMark ||
        reused.query != url.query) {
        Broken("FuzzServiceUrl", "an earlier URL changed the split");
    }
    return 0;
}

int FuzzAddressLabel(const uint8_t* data, size_t size) {
    const std::string_view label = View(data, size);
    const auto records = DecodeAddressLabel(label);
    const size_t bytes = std::min(size * 5 / 8, kLabelBufferBytes);
    if (records.size() != bytes / kServerRecordBytes || records.size() > kMaxLabelRecords) {
        Broken("FuzzAddressLabel", "wrong number of records");
    }
    for (const std::string& text :
         {std::string(label), "klv://" + std::string(label) + ".klv/live/1"}) {
        ServiceUrl url;
        url.Split(text);
        if (url.url != text) {
            Broken("FuzzAddressLabel", "the url is not kept");
        }
        if (!url.addresses.empty() &&
            (!url.addressHost || url.host != url.addresses.front().address.Dotted() ||
             url.port != url.addresses.front().port)) {
            Broken("FuzzAddressLabel", "host and port are not the first record's");
        }
        if (url.addresses.size() > kMaxLabelRecords) {
            Broken("FuzzAddressLabel", "more records than the buffer holds");
        }
    }
    return 0;
}

int FuzzProbeReply(const uint8_t* data, size_t size) {
    const ProbeReplyKind kind = ClassifyProbeReply(std::span(data, size));
    // The rule stated once more, independently of the reader.
    bool wellFormed = size >= 6 && data[2] == kProbeSignature;
    if (wellFormed) {
        const size_t length = data[0] | static_cast<size_t>(data[1]) << 8;
        wellFormed = size == length || size == length + 4 || size == length + 6;
    }
    const ProbeReplyKind expected = !wellFormed                  ? ProbeReplyKind::Malformed
                                    : data[5] == kProbeReplyType ? ProbeReplyKind::Reply
                                                                 : ProbeReplyKind::NotProbeReply;
    if (kind != expected) {
        Broken("FuzzProbeReply", "classification breaks the reply rule");
    }
    return 0;
}

int FuzzHostsFile(const uint8_t* data, size_t size) {
    const HostsFileFindings findings = ScanHostsText(View(data, size));
    const bool found = !findings.wrongMappings.empty() || !findings.productMappings.empty();
    if (found != (findings.result == 0)) {
        Broken("FuzzHostsFile", "result and texts disagree");
    }
    // (A host name may end in a comma itself, so a text's last byte proves nothing.)
    for (const std::string* text : {&findings.wrongMappings, &findings.productMappings}) {
        if (!text->empty() && !text->starts_with("\r\n")) {
            Broken("FuzzHostsFile", "a text not made of pieces");
        }
    }
    size_t pieces = 0;
    for (size_t at = findings.productMappings.find("\r\nKLV"); at != std::string::npos;
         at = findings.productMappings.find("\r\nKLV", at + 1)) {
        ++pieces;
    }
    if (pieces < findings.logLines.size()) {
        Broken("FuzzHostsFile", "more log lines than product mappings");
    }
    // The file reader cuts lines itself, across its reads: it must judge the same lines. The
    // reads come in pieces of sizes taken from the input, so that a cut falls anywhere.
    size_t at = 0;
    size_t turn = 0;
    const HostsFileFindings read = ScanHostsFile([&](char* buffer, size_t room) {
        const size_t piece = size == 0 ? 1 : 1 + data[turn++ % size] % 64;
        const size_t take = std::min({piece, room, size - at});
        std::memcpy(buffer, data + at, take);
        at += take;
        return static_cast<std::ptrdiff_t>(take);
    });
    if (read.result != findings.result || read.wrongMappings != findings.wrongMappings ||
        read.productMappings != findings.productMappings || read.logLines != findings.logLines) {
        Broken("FuzzHostsFile", "reading in pieces and scanning the text disagree");
    }
    return 0;
}

ServiceFuzzTarget ServiceFuzzTargetNamed(const char* name) {
    const std::pair<const char*, ServiceFuzzTarget> targets[] = {
        {"xml", FuzzXmlDocument},          {"label", FuzzAddressLabel},
        {"probe-reply", FuzzProbeReply},   {"hosts", FuzzHostsFile},
        {"channel-list", FuzzChannelList}, {"service-url", FuzzServiceUrl},
    };
    for (const auto& [targetName, target] : targets) {
        if (std::strcmp(name, targetName) == 0) {
            return target;
        }
    }
    return nullptr;
}
