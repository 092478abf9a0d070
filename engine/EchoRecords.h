// An echo probe's requests as the row's probe records: one per request, with its round-trip
// time when answered. Shared by every row that pings (gateway, DNS servers, list hosts).
#pragma once

#include <string_view>
#include <vector>

#include "net/IcmpEcho.h"

namespace lumidex {

void RecordEchoes(std::string_view host, const std::vector<EchoTurn>& turns);

}  // namespace lumidex
