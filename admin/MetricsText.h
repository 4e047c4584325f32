// MetricsText: writes the Prometheus text exposition format (version 0.0.4):
// per metric family a "# HELP" and a "# TYPE" line, then its samples, one
// line each with the labels in braces. Names are given without the
// "varnholt_" prefix, which every name receives. Label values and help texts
// are escaped as the format asks. A plain value object; one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class MetricsText {
public:
    static constexpr const char* kPrefix = "varnholt_";
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    enum class Type { Counter, Gauge };
    using Labels = std::vector<std::pair<std::string_view, std::string_view>>;

    // Starts a family; the samples that follow belong to it.
    void Family(std::string_view name, Type type, std::string_view help);
    void Sample(const Labels& labels, uint64_t value);
    void Sample(const Labels& labels, double value);

    const std::string& Text() const { return m_Text; }

private:
    void SeriesName(const Labels& labels);

    std::string m_Text;
    std::string m_Family;  // the name of the family begun last, prefix included
};
