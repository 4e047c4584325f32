// ResourceCheck.manifest: the files of an installation and their SHA-256
// sums, one "<64 hex digits>  <file name>" line each, written at build time.
// A parser only: it is fed the text and does no I/O.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace resourcecheck {

inline constexpr const char* kManifestFileName = "ResourceCheck.manifest";

struct ManifestEntry {
    std::string sha256;  // lower-case hex
    std::string name;    // file name in the manifest's folder
};

// nullopt when a line is not of that form (the line number in *badLine).
std::optional<std::vector<ManifestEntry>> ParseManifest(const std::string& text, int* badLine = nullptr);

}  // namespace resourcecheck
