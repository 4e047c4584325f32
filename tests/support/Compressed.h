// Bytes compressed the way the gateway sends a log file (zlib, level 9),
// built independently of the code under test.
#pragma once

#include <zlib.h>

#include <string>

namespace testsupport {

inline std::string Packed(const std::string& bytes) {
    uLongf length = compressBound(bytes.size());
    std::string packed(length, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
              bytes.size(), 9);
    packed.resize(length);
    return packed;
}

}  // namespace testsupport
