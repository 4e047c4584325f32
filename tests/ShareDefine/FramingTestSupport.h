// Helpers for the framing tests: hand-built frames (independent of
// PackData) and a framer whose closures record what they receive.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ShareDefine/PackageDispatcher.h"

namespace framingtest {

inline std::string LE32(uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}

inline std::string LE16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

// FF CC, the 32-bit length value, the body.
inline std::string Frame32(std::string_view body) {
    return std::string("\xFF\xCC", 2) + LE32(static_cast<uint32_t>(body.size())) + std::string(body);
}

// A frame head announcing lengthValue bytes (32-bit mode).
inline std::string Head32(uint32_t lengthValue) { return std::string("\xFF\xCC", 2) + LE32(lengthValue); }

// FF CC, the length value with the CRC, the body, the CRC of all before it.
inline std::string FrameWithCRC(std::string_view body) {
    std::string frame = std::string("\xFF\xCC", 2) + LE32(static_cast<uint32_t>(body.size() + 4)) + std::string(body);
    const auto crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(frame.data()), static_cast<uInt>(frame.size())));
    return frame + LE32(crc);
}

class RecordingFramer {
public:
    RecordingFramer() {
        framer.SetOnPack({&OnPack, this});
        framer.SetOnLog({&OnLog, this});
        framer.SetOnError({&OnError, this});
    }

    void Feed(std::string_view chunk) { framer.Feed(chunk.data(), static_cast<int>(chunk.size())); }

    TnPackageDispatcher framer;
    std::vector<std::string> bodies;
    std::vector<const char*> bodyPointers;
    std::vector<std::string> logs;
    int errors = 0;

private:
    static void OnPack(void* context, const char* body, int len) {
        auto* self = static_cast<RecordingFramer*>(context);
        self->bodies.emplace_back(body, static_cast<size_t>(len));
        self->bodyPointers.push_back(body);
    }
    static void OnLog(void* context, const char* text) { static_cast<RecordingFramer*>(context)->logs.emplace_back(text); }
    static void OnError(void* context) { ++static_cast<RecordingFramer*>(context)->errors; }
};

}  // namespace framingtest
