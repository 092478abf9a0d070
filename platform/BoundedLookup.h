// Name look-ups waited for only so long: the resolver's own time-outs can last many seconds,
// longer than a probe's whole bound. A look-up not answered in time ends on its own thread.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <string>

namespace lumidex::platform {

// Starts the look-up of name's IPv4 address on a thread of its own; its answer is the dotted
// address, or "" when the name does not resolve. Invalid when no thread could be started.
std::future<std::string> StartDottedLookup(std::string name);

// The look-up's answer if it comes by deadline and abandoned (when given) stays false, else
// "". An invalid look-up answers "" at once.
std::string DottedAnswerBy(std::future<std::string> lookup,
                           std::chrono::steady_clock::time_point deadline,
                           const std::function<bool()>& abandoned = {});

}  // namespace lumidex::platform
