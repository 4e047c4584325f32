// SHA-256 of a file's contents through OpenSSL's EVP interface, as
// lower-case hex. Reads the file in blocks; safe on any thread.
#pragma once

#include <optional>
#include <string>

namespace resourcecheck {

// nullopt when the file cannot be opened or read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace resourcecheck
