#include "service/ServiceUrl.h"

#include "platform/LenientNumber.h"
#include "service/AddressLabel.h"

namespace lumidex {
namespace {

constexpr std::string_view kAddressSuffix = ".klv";

}  // namespace

void ServiceUrl::Split(std::string_view text) {
    *this = ServiceUrl();
    if (text.empty()) {
        return;
    }
    url.assign(text);
    std::string_view rest = TakeScheme(text);
    rest = TakeUserInfo(rest);
    const std::string_view hostAndPort = TakePathAndQuery(rest);
    TakeHostAndPort(hostAndPort);
    DecodeAddressHost();
}

std::string_view ServiceUrl::TakeScheme(std::string_view text) {
    const auto firstColon = text.find(':');
    const auto separator = text.find("://");
    if (separator == std::string_view::npos) {
        return text;
    }
    if (firstColon == separator) {
        scheme.assign(text.substr(0, separator));
    } else {
        scheme.assign(text.substr(firstColon + 1, separator - firstColon - 1));
    }
    return text.substr(separator + 3);
}

std::string_view ServiceUrl::TakeUserInfo(std::string_view rest) {
    const auto at = rest.find('@');
    if (at == std::string_view::npos) {
        return rest;
    }
    const std::string_view userInfo = rest.substr(0, at);
    const auto colon = userInfo.find(':');
    user.assign(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) {
        password.assign(userInfo.substr(colon + 1));
    }
    return rest.substr(at + 1);
}

std::string_view ServiceUrl::TakePathAndQuery(std::string_view rest) {
    const auto slash = rest.find('/');
    const auto question = rest.find('?');
    const auto hash = rest.find('#');
    auto takeQuery = [&](std::size_t markAt) {
        queryMark = rest[markAt];
        query.assign(rest.substr(markAt + 1));
    };
    if (slash != std::string_view::npos) {
        std::size_t pathEnd = rest.size();
        if (question != std::string_view::npos) {
            pathEnd = question;
        } else if (hash != std::string_view::npos) {
            pathEnd = hash;
        }
        if (pathEnd != rest.size()) {
            takeQuery(pathEnd);
        }
        // A "?" or "#" before the "/" belongs to the host part; the path is then empty.
        if (pathEnd > slash) {
            path.assign(rest.substr(slash + 1, pathEnd - slash - 1));
        }
        const auto lastSlash = path.rfind('/');
        if (!path.empty() && lastSlash != std::string::npos && lastSlash > 0) {
            fileName = path.substr(lastSlash + 1);
        }
        return rest.substr(0, slash);
    }
    if (question != std::string_view::npos) {
        takeQuery(question);
        return rest.substr(0, question);
    }
    if (hash != std::string_view::npos) {
        takeQuery(hash);
        return rest.substr(0, hash);
    }
    return rest;
}

void ServiceUrl::TakeHostAndPort(std::string_view hostAndPort) {
    const auto portColon = hostAndPort.find(':');
    host.assign(hostAndPort.substr(0, portColon));
    if (portColon != std::string_view::npos) {
        // atoi's number, kept to the low 16 bits as the original port field did.
        port = static_cast<std::uint16_t>(LenientAtoi(hostAndPort.substr(portColon + 1)));
    }
}

// An address host ends in ".klv", found first after the host's first byte.
void ServiceUrl::DecodeAddressHost() {
    const auto suffix = host.find(kAddressSuffix);
    if (suffix == std::string::npos || suffix == 0 ||
        suffix + kAddressSuffix.size() != host.size()) {
        return;
    }
    addressHost = true;
    host.resize(suffix);
    for (char& c : host) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    addresses = DecodeAddressLabel(host);
    if (addresses.empty()) {
        return;
    }
    host = addresses.front().address.Dotted();
    port = addresses.front().port;
}

}  // namespace lumidex
