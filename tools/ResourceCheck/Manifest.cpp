#include "tools/ResourceCheck/Manifest.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace resourcecheck {
namespace {

constexpr size_t kSumLength = 64;

bool IsSum(const std::string& text) {
    return text.size() == kSumLength &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::optional<ManifestEntry> ParseLine(const std::string& line) {
    if (line.size() < kSumLength + 3 || line.compare(kSumLength, 2, "  ") != 0) return std::nullopt;
    ManifestEntry entry{line.substr(0, kSumLength), line.substr(kSumLength + 2)};
    if (!IsSum(entry.sha256) || entry.name.find('/') != std::string::npos) return std::nullopt;
    std::transform(entry.sha256.begin(), entry.sha256.end(), entry.sha256.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return entry;
}

}  // namespace

std::optional<std::vector<ManifestEntry>> ParseManifest(const std::string& text, int* badLine) {
    std::vector<ManifestEntry> entries;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::optional<ManifestEntry> entry = ParseLine(line);
        if (!entry) {
            if (badLine != nullptr) *badLine = number;
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace resourcecheck
