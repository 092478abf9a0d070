#include "engine/P2pObservations.h"

namespace lumidex {

std::string ToString(const TransportAddress& address) {
    const bool v6 = address.address.find(':') != std::string::npos;
    return (v6 ? "[" + address.address + "]" : address.address) + ":" +
           std::to_string(address.port);
}

}  // namespace lumidex
