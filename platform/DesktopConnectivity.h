// The desktop's own verdict on the connection: NetworkManager's connectivity state, read over
// the system bus. It is a second opinion beside the checks, so reading it must never cost a
// run anything: where there is no bus or no NetworkManager the answer is "absent" at once, and
// a bus or service that accepts but never answers is given up on after a fixed bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace lumidex::platform {

// NetworkManager's NMConnectivityState, in its own numbering (the property's uint32).
enum class DesktopConnectivity : std::uint32_t {
    Unknown = 0,  // it has not checked (or checking is off)
    None = 1,     // no network at all
    Portal = 2,   // a captive portal intercepts the Internet
    Limited = 3,  // a network, but no Internet
    Full = 4,     // the Internet answers
};

// "unknown", "none", "portal", "limited", "full".
const char* DesktopConnectivityName(DesktopConnectivity state);

// The state of a property value; a number NetworkManager may add later reads as Unknown, the
// state that claims nothing.
DesktopConnectivity DesktopConnectivityFromNumber(std::uint32_t number);

// Why no state was read.
enum class DesktopSilence {
    NoBus,             // no system bus to connect to (no socket, refused, bad address)
    TimedOut,          // the bus or NetworkManager did not answer within the bound
    NoNetworkManager,  // nobody owns NetworkManager's name on the bus
    ErrorReply,        // NetworkManager (or the bus) answered with another error
    UnreadableReply,   // the answer was not a uint32 in a variant
};
const char* DescribeDesktopSilence(DesktopSilence silence);

struct DesktopConnectivityReading {
    std::optional<DesktopConnectivity> state;
    DesktopSilence silence = DesktopSilence::NoBus;  // meaningful only without a state
};

// The whole reading (connect, authentication and the property call) ends within this.
inline constexpr std::chrono::milliseconds kDesktopConnectivityBound{500};

// Reads the Connectivity property of NetworkManager on the system bus
// ($DBUS_SYSTEM_BUS_ADDRESS, else the well-known socket), returning within bound. It never
// starts NetworkManager through bus activation: a diagnosis looks, it does not change the
// system. Safe to call from any thread; each call has a connection of its own.
DesktopConnectivityReading ReadDesktopConnectivityReading(
    std::chrono::milliseconds bound = kDesktopConnectivityBound);

// The same, the state alone: nullopt where the desktop has nothing to say.
std::optional<DesktopConnectivity> ReadDesktopConnectivity(
    std::chrono::milliseconds bound = kDesktopConnectivityBound);

}  // namespace lumidex::platform
