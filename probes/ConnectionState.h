// Is the computer connected at all: a dial-up connection that is up, or else any working
// network interface. Both answers come from a list of interfaces, the machine's own unless a
// test hands one in.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/NetInterfaces.h"

namespace lumidex {

inline constexpr std::int32_t kDialUpConnected = 1;
inline constexpr std::int32_t kNetworkConnected = 2;
inline constexpr std::int32_t kNotConnected = -1;

// True when there is a dial-up connection and the first one is connected (not dialling).
bool IsDialUpConnected(std::span<const platform::NetInterface> interfaces);
bool IsDialUpConnected();

// The name of the first dial-up connection when it is still dialling (not connected); empty
// when there is none or it is connected.
std::string DiallingConnection(std::span<const platform::NetInterface> interfaces);
std::string DiallingConnection();

// kDialUpConnected, else kNetworkConnected when some interface is connected, else
// kNotConnected.
std::int32_t GetLocalConnectionState(std::span<const platform::NetInterface> interfaces);
std::int32_t GetLocalConnectionState();

}  // namespace lumidex
