#include "admin/MetricsText.h"

#include <cmath>
#include <cstdio>

namespace {

// Help texts escape backslash and line feed; label values also the quote.
void AppendEscaped(std::string& out, std::string_view text, bool quoteToo) {
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (quoteToo && c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
}

}  // namespace

void MetricsText::Family(std::string_view name, Type type, std::string_view help) {
    m_Family = std::string(kPrefix) + std::string(name);
    m_Text += "# HELP " + m_Family + " ";
    AppendEscaped(m_Text, help, false);
    m_Text += "\n# TYPE " + m_Family + (type == Type::Counter ? " counter\n" : " gauge\n");
}

void MetricsText::SeriesName(const Labels& labels) {
    m_Text += m_Family;
    if (labels.empty()) return;
    m_Text += '{';
    bool first = true;
    for (const auto& [name, value] : labels) {
        if (!first) m_Text += ',';
        first = false;
        m_Text.append(name);
        m_Text += "=\"";
        AppendEscaped(m_Text, value, true);
        m_Text += '"';
    }
    m_Text += '}';
}

void MetricsText::Sample(const Labels& labels, uint64_t value) {
    SeriesName(labels);
    m_Text += ' ' + std::to_string(value) + '\n';
}

void MetricsText::Sample(const Labels& labels, double value) {
    SeriesName(labels);
    if (std::isnan(value)) {
        m_Text += " NaN\n";
        return;
    }
    if (std::isinf(value)) {
        m_Text += value > 0 ? " +Inf\n" : " -Inf\n";
        return;
    }
    // 15 significant digits: exact for every figure written here (seconds
    // in 100 ns steps for years), without the noise digits of %.17g.
    char text[40];
    std::snprintf(text, sizeof(text), " %.15g\n", value);
    m_Text += text;
}
