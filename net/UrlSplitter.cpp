#include "net/UrlSplitter.h"

#include "platform/AsciiCase.h"
#include "platform/AsciiChar.h"

namespace lumidex {
namespace {

using platform::IsAlpha;
using platform::IsDigit;

UrlService ServiceOf(std::string_view scheme, std::uint16_t& port) {
    struct Known {
        std::string_view name;
        UrlService service;
        std::uint16_t port;
    };
    static constexpr Known kKnown[] = {
        {"http", UrlService::Http, 80}, {"https", UrlService::Https, 443},
        {"ftp", UrlService::Ftp, 21},   {"gopher", UrlService::Gopher, 70},
        {"file", UrlService::File, 0},
    };
    for (const Known& known : kKnown) {
        // RFC 3986 3.1: schemes compare without regard to case.
        if (platform::NamesEqual(scheme, known.name)) {
            port = known.port;
            return known.service;
        }
    }
    port = 0;
    return UrlService::Unknown;
}

// RFC 3986 3.2: authority = [ userinfo "@" ] host [ ":" port ], port = *DIGIT. An empty port
// means the scheme's own (3.2.3); otherwise it must be 1 to 65535. IP literals in brackets are
// not supported: every address here is IPv4.
bool SplitAuthority(std::string_view authority, std::string& server, bool& hasPort,
                    std::uint16_t& port) {
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    const auto colon = authority.find(':');
    server = authority.substr(0, colon);
    hasPort = false;
    if (server.empty()) {
        return false;
    }
    if (colon == std::string_view::npos || colon + 1 == authority.size()) {
        return true;
    }
    std::uint32_t value = 0;
    for (const char c : authority.substr(colon + 1)) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) {
            return false;
        }
    }
    if (value == 0) {
        return false;
    }
    hasPort = true;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// RFC 3986 3: where a scan of the URL text stands, and what it found so far.
struct UrlScan {
    enum class State {
        Scheme,       // 3.1: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), ended by ":"
        FirstSlash,   // the "//" that opens the authority (3.2)
        SecondSlash,  //
        Authority,    // up to "/", "?", "#" or the end (3.2)
        Object,       // path and query as written (3.3, 3.4), up to "#"
        Fragment,     // 3.5: never sent to the server; the rest is skipped
        Failed,       // not a URL of the accepted form
    };
    State state = State::Scheme;
    std::size_t schemeEnd = 0;
    std::size_t authorityBegin = 0;
    std::size_t authorityEnd = 0;
    std::string object;

    // The scan reached the authority: scheme and "//" were read, and nothing failed.
    bool ReachedAuthority() const {
        return state == State::Authority || state == State::Object || state == State::Fragment;
    }
};

// Advances the scan by the character c found at pos.
void ScanChar(UrlScan& scan, char c, std::size_t pos) {
    using State = UrlScan::State;
    switch (scan.state) {
        case State::Scheme:
            if (c == ':' && pos > 0) {
                scan.schemeEnd = pos;
                scan.state = State::FirstSlash;
            } else if (!IsAlpha(c) &&
                       (pos == 0 || !(IsDigit(c) || c == '+' || c == '-' || c == '.'))) {
                scan.state = State::Failed;
            }
            return;
        case State::FirstSlash:
            scan.state = c == '/' ? State::SecondSlash : State::Failed;
            return;
        case State::SecondSlash:
            scan.state = c == '/' ? State::Authority : State::Failed;
            scan.authorityBegin = pos + 1;
            scan.authorityEnd = scan.authorityBegin;
            return;
        case State::Authority:
            if (c != '/' && c != '?' && c != '#') {
                scan.authorityEnd = pos + 1;
                return;
            }
            scan.state = c == '#' ? State::Fragment : State::Object;
            if (c == '?') {
                scan.object.push_back('/');  // a query without a path asks for the root
            }
            if (c != '#') {
                scan.object.push_back(c);
            }
            return;
        case State::Object:
            if (c == '#') {
                scan.state = State::Fragment;
            } else {
                scan.object.push_back(c);
            }
            return;
        case State::Fragment:
        case State::Failed:
            return;
    }
}

UrlScan ScanUrl(std::string_view url) {
    UrlScan scan;
    for (std::size_t pos = 0; pos < url.size() && scan.state != UrlScan::State::Failed; ++pos) {
        const auto byte = static_cast<unsigned char>(url[pos]);
        // Blanks and controls never belong in a URL (3.); one that carries them is refused.
        if (byte <= 0x20 || byte == 0x7F) {
            scan.state = UrlScan::State::Failed;
            break;
        }
        ScanChar(scan, url[pos], pos);
    }
    return scan;
}

}  // namespace

bool SplitUrlText(std::string_view url, SplitUrl& out) {
    UrlScan scan = ScanUrl(url);
    if (!scan.ReachedAuthority()) {
        return false;
    }
    SplitUrl result;
    bool hasPort = false;
    if (!SplitAuthority(url.substr(scan.authorityBegin, scan.authorityEnd - scan.authorityBegin),
                        result.server, hasPort, result.port)) {
        return false;
    }
    std::uint16_t usualPort = 0;
    result.service = ServiceOf(url.substr(0, scan.schemeEnd), usualPort);
    if (!hasPort) {
        result.port = usualPort;
    }
    if (!scan.object.empty()) {
        result.object = std::move(scan.object);
    }
    out = std::move(result);
    return true;
}

}  // namespace lumidex
