#include "tools/varnstatus/ZlibInflater.h"

#include <zlib.h>

#include <climits>

namespace varnstatus {
namespace {

// z_stream holds zlib's state; inflateEnd must run on every way out.
struct InflateStream {
    z_stream stream{};
    bool open = false;
    ~InflateStream() {
        if (open) inflateEnd(&stream);
    }
};

}  // namespace

bool ZlibInflater::Inflate(const std::string& packed, std::string& out) {
    out.clear();
    m_Error.clear();
    if (packed.size() > UINT_MAX) {
        m_Error = "packed data too large";
        return false;
    }
    InflateStream z;
    if (inflateInit(&z.stream) != Z_OK) {
        m_Error = "zlib could not start";
        return false;
    }
    z.open = true;
    z.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.stream.avail_in = static_cast<uInt>(packed.size());
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (out.size() >= m_Limit) {
            m_Error = "unpacked data exceeds " + std::to_string(m_Limit) + " bytes";
            return false;
        }
        const size_t room = m_Limit - out.size() < kChunk ? m_Limit - out.size() : kChunk;
        const size_t before = out.size();
        out.resize(before + room);
        z.stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        z.stream.avail_out = static_cast<uInt>(room);
        result = inflate(&z.stream, Z_NO_FLUSH);
        out.resize(before + room - z.stream.avail_out);
        if (result == Z_BUF_ERROR && z.stream.avail_in == 0) {
            m_Error = "zlib stream ends early (truncated data)";
            return false;
        }
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            m_Error = std::string("bad zlib data: ") + (z.stream.msg != nullptr ? z.stream.msg : zError(result));
            return false;
        }
    }
    if (z.stream.avail_in != 0) {
        m_Error = std::to_string(z.stream.avail_in) + " bytes after the end of the zlib stream";
        return false;
    }
    return true;
}

}  // namespace varnstatus
