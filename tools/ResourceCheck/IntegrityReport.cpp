#include "tools/ResourceCheck/IntegrityReport.h"

#include <filesystem>

#include "tools/ResourceCheck/FileDigest.h"

namespace resourcecheck {

IntegrityResult CheckFolder(const std::string& folder, const std::vector<ManifestEntry>& manifest) {
    IntegrityResult result;
    for (const ManifestEntry& entry : manifest) {
        ++result.checked;
        const std::string path = (std::filesystem::path(folder) / entry.name).string();
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            result.missing.push_back(entry.name);
            continue;
        }
        // A file that exists but cannot be read is as good as changed.
        const auto sum = Sha256OfFile(path);
        if (!sum || *sum != entry.sha256) result.changed.push_back(entry.name);
    }
    return result;
}

void WriteReport(std::ostream& out, const IntegrityResult& result) {
    for (const std::string& name : result.missing) out << "missing: " << name << "\n";
    for (const std::string& name : result.changed) out << "changed: " << name << "\n";
    out << "checked " << result.checked << " files: " << result.missing.size() << " missing, "
        << result.changed.size() << " changed\n";
}

}  // namespace resourcecheck
