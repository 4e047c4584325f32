// The stream framer (TnPackageDispatcher) on arbitrary received bytes.
//
// Input: byte 0 picks the mode (bit 0: 16-bit length, bit 1: CRC on); the
// rest is the received stream. The stream is fed whole, byte by byte and in
// splits derived from the input. What must hold:
//  - every way of feeding yields the same frames, and meets the first broken
//    frame (bad magic, over-long, no room for the CRC, CRC mismatch) at the
//    same point; the link closes there, so nothing after it is fed;
//  - those frames are exactly what a plain decoder written here finds, and
//    the bytes left pending are the unfinished tail;
//  - packing each body again in the same mode gives back its frame's bytes.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ShareDefine/PackageDispatcher.h"
#include "ShareDefine/WireBytes.h"
#include "fuzz/support/FuzzCheck.h"

namespace {

struct Mode {
    bool len16 = false;
    bool crc = false;
    size_t HeadLen() const { return len16 ? kPackHeadLen16 : kPackHeadLen32; }
};

struct Outcome {
    std::vector<std::string> bodies;
    bool broken = false;  // a broken frame ended the stream
    size_t pending = 0;   // bytes waiting for the rest of their frame
    bool operator==(const Outcome&) const = default;
};

// The wire layout read from the description in IPackageDispatcher.h, one
// frame after another, with no buffering to get wrong.
Outcome ReferenceDecode(const Mode& mode, const uint8_t* data, size_t size) {
    Outcome outcome;
    const size_t headLen = mode.HeadLen();
    size_t at = 0;
    while (at < size) {
        const size_t avail = size - at;
        if (avail < headLen) break;
        const char* frame = reinterpret_cast<const char*>(data + at);
        if (wire::ReadLE16(frame) != kPackMagic) {
            outcome.broken = true;
            return outcome;
        }
        const uint64_t lengthValue = mode.len16 ? wire::ReadLE16(frame + 2) : wire::ReadLE32(frame + 2);
        const uint64_t total = lengthValue + headLen;
        if (total > kMaxFrameBytes || (mode.crc && lengthValue < kPackCRCLen)) {
            outcome.broken = true;
            return outcome;
        }
        if (total > avail) break;
        size_t bodyLen = static_cast<size_t>(lengthValue);
        if (mode.crc) {
            bodyLen -= kPackCRCLen;
            const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(frame), static_cast<uInt>(total - kPackCRCLen));
            if (static_cast<uint32_t>(crc) != wire::ReadLE32(frame + total - kPackCRCLen)) {
                outcome.broken = true;
                return outcome;
            }
        }
        outcome.bodies.emplace_back(frame + headLen, bodyLen);
        at += static_cast<size_t>(total);
    }
    outcome.pending = size - at;
    return outcome;
}

struct Collector {
    Outcome* outcome = nullptr;
    static void OnPack(void* context, const char* body, int len) {
        FUZZ_CHECK(len >= 0);
        static_cast<Collector*>(context)->outcome->bodies.emplace_back(body, static_cast<size_t>(len));
    }
    static void OnError(void* context) { static_cast<Collector*>(context)->outcome->broken = true; }
};

Outcome FeedInChunks(const Mode& mode, const uint8_t* data, size_t size, const std::vector<size_t>& chunks) {
    Outcome outcome;
    Collector collector{&outcome};
    TnPackageDispatcher dispatcher;
    dispatcher.SetLenMode(mode.len16 ? 0 : 1);
    dispatcher.SetUseCRC(mode.crc);
    dispatcher.SetOnPack({&Collector::OnPack, &collector});
    dispatcher.SetOnError({&Collector::OnError, &collector});
    fuzzsupport::ForEachRead(data, chunks, [&](const std::vector<char>& read) {
        try {
            dispatcher.Feed(read.data(), static_cast<int>(read.size()));
        } catch (const PackCRCError&) {
            outcome.broken = true;
        }
        return !outcome.broken;  // the link is closed here
    });
    if (outcome.broken) return outcome;
    outcome.pending = dispatcher.PendingBytes();
    return outcome;
}

// Packing a body again must give its frame's bytes exactly.
void CheckRepack(const Mode& mode, const std::vector<std::string>& bodies, const uint8_t* data, size_t size) {
    TnPackageDispatcher packer;
    packer.SetLenMode(mode.len16 ? 0 : 1);
    packer.SetUseCRC(mode.crc);
    size_t at = 0;
    for (const std::string& body : bodies) {
        const size_t frameLen = mode.HeadLen() + body.size() + (mode.crc ? kPackCRCLen : 0);
        FUZZ_CHECK(at + frameLen <= size);
        std::vector<char> frame(frameLen);
        const int written =
            packer.PackData(body.data(), static_cast<int>(body.size()), frame.data(), static_cast<int>(frame.size()));
        FUZZ_CHECK(written == static_cast<int>(frameLen));
        FUZZ_CHECK(std::memcmp(frame.data(), data + at, frameLen) == 0);
        // One byte less room must be refused, never overrun.
        if (frameLen > 0) {
            std::vector<char> tight(frameLen - 1);
            FUZZ_CHECK(packer.PackData(body.data(), static_cast<int>(body.size()), tight.data(),
                                       static_cast<int>(tight.size())) == 0);
        }
        at += frameLen;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const Mode mode{(data[0] & 1) != 0, (data[0] & 2) != 0};
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    const Outcome expected = ReferenceDecode(mode, stream, length);
    const Outcome whole = FeedInChunks(mode, stream, length, length > 0 ? std::vector<size_t>{length} : std::vector<size_t>{});
    FUZZ_CHECK(whole.bodies == expected.bodies);
    FUZZ_CHECK(whole.broken == expected.broken);
    if (!expected.broken) FUZZ_CHECK(whole.pending == expected.pending);

    const Outcome bytewise = FeedInChunks(mode, stream, length, fuzzsupport::ByteSplits(length));
    FUZZ_CHECK(bytewise == whole);
    const Outcome split = FeedInChunks(mode, stream, length, fuzzsupport::RandomSplits(data, size, length));
    FUZZ_CHECK(split == whole);

    CheckRepack(mode, expected.bodies, stream, length);
    return 0;
}
