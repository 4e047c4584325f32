// Compares the files of one folder with the manifest's sums and writes what
// differs as text: a line per missing or changed file and a summary line.
// Single-threaded.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/ResourceCheck/Manifest.h"

namespace resourcecheck {

struct IntegrityResult {
    std::vector<std::string> missing;
    std::vector<std::string> changed;
    size_t checked = 0;

    bool Clean() const { return missing.empty() && changed.empty(); }
};

IntegrityResult CheckFolder(const std::string& folder, const std::vector<ManifestEntry>& manifest);
void WriteReport(std::ostream& out, const IntegrityResult& result);

}  // namespace resourcecheck
