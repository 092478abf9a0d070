#include "platform/DesktopConnectivity.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <memory>

namespace lumidex::platform {

namespace {

constexpr char kService[] = "org.freedesktop.NetworkManager";
constexpr char kObject[] = "/org/freedesktop/NetworkManager";
constexpr char kInterface[] = "org.freedesktop.NetworkManager";
constexpr char kProperty[] = "Connectivity";

using Clock = std::chrono::steady_clock;

// Closed without flushing: sd_bus_flush waits, unbounded, for a peer to take what is still
// queued, and a bus that stopped reading would hold the caller there.
struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

class BusError {
public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&m_error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;

    sd_bus_error* get() { return &m_error; }
    bool Is(const char* name) const { return sd_bus_error_has_name(&m_error, name) != 0; }

private:
    sd_bus_error m_error = SD_BUS_ERROR_NULL;
};

// Microseconds left until deadline, 0 once it has passed.
std::uint64_t UsecLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

// Drives the connection through connect, authentication and Hello. sd_bus_call would do this
// too, but bounded only by the library's own authentication time-out (the better part of two
// minutes), so a socket that accepts and never speaks would hold the caller that long.
std::optional<DesktopSilence> WaitUntilReady(sd_bus* bus, Clock::time_point deadline) {
    for (;;) {
        if (sd_bus_is_ready(bus) > 0) {
            return std::nullopt;
        }
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) {
            return DesktopSilence::NoBus;
        }
        if (processed > 0) {
            continue;
        }
        const std::uint64_t left = UsecLeft(deadline);
        if (left == 0) {
            return DesktopSilence::TimedOut;
        }
        const int waited = sd_bus_wait(bus, left);
        if (waited < 0 && waited != -EINTR) {
            return DesktopSilence::NoBus;
        }
    }
}

DesktopSilence SilenceOfFailedCall(int result, const BusError& error) {
    if (result == -ETIMEDOUT) {
        return DesktopSilence::TimedOut;
    }
    if (error.Is(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.Is(SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
        return DesktopSilence::NoNetworkManager;
    }
    return DesktopSilence::ErrorReply;
}

DesktopConnectivityReading Silent(DesktopSilence silence) {
    return {std::nullopt, silence};
}

}  // namespace

const char* DesktopConnectivityName(DesktopConnectivity state) {
    switch (state) {
        case DesktopConnectivity::Unknown:
            return "unknown";
        case DesktopConnectivity::None:
            return "none";
        case DesktopConnectivity::Portal:
            return "portal";
        case DesktopConnectivity::Limited:
            return "limited";
        case DesktopConnectivity::Full:
            return "full";
    }
    return "unknown";
}

DesktopConnectivity DesktopConnectivityFromNumber(std::uint32_t number) {
    if (number > static_cast<std::uint32_t>(DesktopConnectivity::Full)) {
        return DesktopConnectivity::Unknown;
    }
    return static_cast<DesktopConnectivity>(number);
}

const char* DescribeDesktopSilence(DesktopSilence silence) {
    switch (silence) {
        case DesktopSilence::NoBus:
            return "no system bus";
        case DesktopSilence::TimedOut:
            return "no answer in time";
        case DesktopSilence::NoNetworkManager:
            return "NetworkManager is not on the bus";
        case DesktopSilence::ErrorReply:
            return "error reply";
        case DesktopSilence::UnreadableReply:
            return "unreadable reply";
    }
    return "unknown";
}

DesktopConnectivityReading ReadDesktopConnectivityReading(std::chrono::milliseconds bound) {
    const Clock::time_point deadline = Clock::now() + bound;

    // Honours DBUS_SYSTEM_BUS_ADDRESS. The socket is non-blocking: a missing or refusing one
    // fails here at once, and nothing below waits past the deadline.
    sd_bus* opened = nullptr;
    if (sd_bus_open_system(&opened) < 0) {
        return Silent(DesktopSilence::NoBus);
    }
    const BusPtr bus(opened);
    if (const auto silence = WaitUntilReady(bus.get(), deadline)) {
        return Silent(*silence);
    }

    // org.freedesktop.DBus.Properties.Get(interface, property) -> variant
    sd_bus_message* built = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &built, kService, kObject,
                                       "org.freedesktop.DBus.Properties", "Get") < 0) {
        return Silent(DesktopSilence::ErrorReply);
    }
    const MessagePtr call(built);
    if (sd_bus_message_append(call.get(), "ss", kInterface, kProperty) < 0 ||
        sd_bus_message_set_auto_start(call.get(), 0) < 0) {
        return Silent(DesktopSilence::ErrorReply);
    }

    const std::uint64_t left = UsecLeft(deadline);
    if (left == 0) {
        return Silent(DesktopSilence::TimedOut);
    }
    BusError error;
    sd_bus_message* received = nullptr;
    const int result = sd_bus_call(bus.get(), call.get(), left, error.get(), &received);
    const MessagePtr reply(received);
    if (result < 0) {
        return Silent(SilenceOfFailedCall(result, error));
    }
    std::uint32_t number = 0;
    if (sd_bus_message_read(reply.get(), "v", "u", &number) < 0) {
        return Silent(DesktopSilence::UnreadableReply);
    }
    return {.state = DesktopConnectivityFromNumber(number)};
}

std::optional<DesktopConnectivity> ReadDesktopConnectivity(std::chrono::milliseconds bound) {
    return ReadDesktopConnectivityReading(bound).state;
}

}  // namespace lumidex::platform
