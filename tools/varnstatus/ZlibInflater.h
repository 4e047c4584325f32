// ZlibInflater: unpacks the zlib stream (RFC 1950) in which the gateway
// sends a whole log file. The packed size says nothing about the unpacked
// one, so output grows chunk by chunk up to a bound, and a stream that ends
// early, carries bytes after its end or fails its checksum is an error, never
// a short file. Pure: bytes in, bytes out; one caller at a time.
#pragma once

#include <cstddef>
#include <string>

namespace varnstatus {

class ZlibInflater {
public:
    // A log file larger than this is more likely a forged stream than a log.
    static constexpr size_t kDefaultLimit = size_t{1} << 30;

    explicit ZlibInflater(size_t limit = kDefaultLimit) : m_Limit(limit) {}

    // True with the unpacked bytes in `out`; false with the reason in Error().
    bool Inflate(const std::string& packed, std::string& out);
    const std::string& Error() const { return m_Error; }

private:
    static constexpr size_t kChunk = 256 * 1024;

    size_t m_Limit;
    std::string m_Error;
};

}  // namespace varnstatus
