// The samples of a Prometheus text page, by series: the metric name with its
// labels exactly as the page writes them ("varnholt_packets_total{peer="game",
// direction="recv"}"). Comment lines and lines without a number are skipped.
// Parsing does no I/O; any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace varnholtctl {

class MetricsSamples {
public:
    static MetricsSamples Parse(std::string_view page);

    // The series' value; 0 when the page does not have it.
    double Value(const std::string& series) const;
    bool Has(const std::string& series) const { return m_Values.count(series) != 0; }
    size_t Size() const { return m_Values.size(); }

private:
    std::map<std::string, double, std::less<>> m_Values;
};

}  // namespace varnholtctl
