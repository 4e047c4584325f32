#include "Timeout.h"

#include <cstdio>

namespace varnholtctl {

uint32_t TimeoutMs(double seconds) {
    constexpr double kMaxMs = 0x7FFFFFFF;
    if (!(seconds > 0)) return 0;  // also NaN
    const double ms = seconds * 1000.0;
    return ms >= kMaxMs ? static_cast<uint32_t>(kMaxMs) : static_cast<uint32_t>(ms);
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", seconds);
    return text;
}

}  // namespace varnholtctl
