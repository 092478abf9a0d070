// What a run says about the Kelvora client itself: which prefix holds it (none, or several)
// and whether it runs, as problems of the first software row, and the client's process and
// ports for the front ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/Diagnosis.h"
#include "platform/ClientProcess.h"
#include "startup/PrefixDiscovery.h"

namespace lumidex {

// client_prefix_not_found (with the places looked at) or client_in_several_prefixes.
std::vector<Problem> PrefixProblems(const PrefixChoice& prefix);

// The client's process, looked for under its install location in both of its forms; not
// running when the prefix does not hold the client.
platform::ClientProcess ProbeClient(const PrefixChoice& prefix,
                                    const std::string& procRoot = "/proc");

// client_not_running when the client is installed but no process of it runs.
std::vector<Problem> ClientProblems(const PrefixChoice& prefix,
                                    const platform::ClientProcess& client);

}  // namespace lumidex
