// The GNU build-id of an ELF file (64-bit, either byte order), read from its
// note segments: the version that identifies a build of a module exactly.
// Safe on any thread.
#pragma once

#include <optional>
#include <string>

namespace envinfo {

// Lower-case hex, or nullopt when the file is not a 64-bit ELF file or
// carries no build-id note.
std::optional<std::string> ReadBuildId(const std::string& path);

}  // namespace envinfo
