#include "tools/varnholtctl/MetricsSamples.h"

#include <cstdlib>

namespace varnholtctl {

MetricsSamples MetricsSamples::Parse(std::string_view page) {
    MetricsSamples samples;
    while (!page.empty()) {
        const size_t end = page.find('\n');
        const std::string_view line = page.substr(0, end);
        page = end == std::string_view::npos ? std::string_view() : page.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        // The value follows the last blank: label values may hold blanks,
        // the value never does.
        const size_t blank = line.rfind(' ');
        if (blank == std::string_view::npos || blank + 1 == line.size()) continue;
        const std::string value(line.substr(blank + 1));
        char* parsedEnd = nullptr;
        const double number = std::strtod(value.c_str(), &parsedEnd);
        if (parsedEnd != value.c_str() + value.size()) continue;
        samples.m_Values[std::string(line.substr(0, blank))] = number;
    }
    return samples;
}

double MetricsSamples::Value(const std::string& series) const {
    const auto found = m_Values.find(series);
    return found == m_Values.end() ? 0.0 : found->second;
}

}  // namespace varnholtctl
