// Time-outs given in seconds on the command line. Pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace varnholtctl {

// Seconds to milliseconds, clamped to [0, about 24 days].
uint32_t TimeoutMs(double seconds);
// "2", "0.5": the seconds as the operator wrote them, for messages.
std::string FormatSeconds(double seconds);

}  // namespace varnholtctl
