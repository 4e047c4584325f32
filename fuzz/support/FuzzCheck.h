// What every fuzz target shares: the check that stops the run on a broken
// property, and the split plans that cut one input into chunks the way a
// socket might. Checks stay active in every build type (unlike assert), so
// the replay programs of the normal build catch the same breaks as libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Stops at once with the condition and its place; libFuzzer then saves the
// input as a crash, and a replay run fails its test.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::fflush(stderr);                                                               \
            __builtin_trap();                                                                  \
        }                                                                                      \
    } while (0)

namespace fuzzsupport {

// Chunk lengths that add up to `total`, drawn from a generator seeded with a
// hash of the input: every input has its own splits, a mutation of the input
// gives other ones, and a saved crash replays with the same cut. Mostly
// short chunks (a frame head split over several reads), now and then a
// long one (several frames in one read).
inline std::vector<size_t> RandomSplits(const uint8_t* data, size_t size, size_t total, uint64_t salt = 0) {
    uint64_t state = 0xCBF29CE484222325ull ^ salt;  // FNV-1a over the input
    for (size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 0x100000001B3ull;
    std::vector<size_t> chunks;
    size_t left = total;
    while (left > 0) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const size_t limit = (state & 0x700) == 0 ? 512 : 16;
        size_t chunk = 1 + static_cast<size_t>((state >> 16) % limit);
        if (chunk > left) chunk = left;
        chunks.push_back(chunk);
        left -= chunk;
    }
    return chunks;
}

// Every byte on its own: the harshest split.
inline std::vector<size_t> ByteSplits(size_t total) { return std::vector<size_t>(total, 1); }

// Hands the input over one read at a time, each in a buffer of its own size
// as a socket read would: the sanitizer sees any read past a chunk.
// onRead(const std::vector<char>&) returns false to stop.
template <typename OnRead>
void ForEachRead(const uint8_t* data, const std::vector<size_t>& chunks, OnRead onRead) {
    size_t at = 0;
    for (const size_t chunk : chunks) {
        const std::vector<char> read(data + at, data + at + chunk);
        at += chunk;
        if (!onRead(read)) return;
    }
}

}  // namespace fuzzsupport
