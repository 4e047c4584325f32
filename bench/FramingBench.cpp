// Feed throughput of the stream framer: many whole frames per chunk, and
// frames cut across chunk borders (4000-byte chunks, so most frames of
// 1 KB and up arrive in pieces).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "ShareDefine/PackageDispatcher.h"
#include "tests/support/CapturingLog.h"

namespace {

std::string Frame(size_t bodyLen) {
    std::string frame(6 + bodyLen, 'b');
    frame[0] = '\xFF';
    frame[1] = '\xCC';
    for (int i = 0; i < 4; ++i) frame[2 + i] = static_cast<char>((bodyLen >> (8 * i)) & 0xFF);
    return frame;
}

// About 256 KB of back-to-back frames (at least one).
std::string Stream(size_t bodyLen) {
    const std::string frame = Frame(bodyLen);
    std::string stream;
    do {
        stream += frame;
    } while (stream.size() < 256 * 1024);
    return stream;
}

struct Sink {
    long long frames = 0;
    long long bytes = 0;
    static void OnPack(void* context, const char*, int len) {
        auto* sink = static_cast<Sink*>(context);
        ++sink->frames;
        sink->bytes += len;
    }
};

void BM_FeedWholeFrames(benchmark::State& state) {
    const std::string stream = Stream(static_cast<size_t>(state.range(0)));
    TnPackageDispatcher framer;
    Sink sink;
    framer.SetOnPack({&Sink::OnPack, &sink});
    for (auto _ : state) framer.Feed(stream.data(), static_cast<int>(stream.size()));
    state.SetItemsProcessed(sink.frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_FeedWholeFrames)->Arg(64)->Arg(1024)->Arg(64 * 1024);

void BM_FeedFramesSplitOverChunks(benchmark::State& state) {
    const std::string stream = Stream(static_cast<size_t>(state.range(0)));
    constexpr size_t kChunk = 4000;
    TnPackageDispatcher framer;
    Sink sink;
    framer.SetOnPack({&Sink::OnPack, &sink});
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += kChunk) {
            const size_t n = std::min(kChunk, stream.size() - offset);
            framer.Feed(stream.data() + offset, static_cast<int>(n));
        }
    }
    state.SetItemsProcessed(sink.frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_FeedFramesSplitOverChunks)->Arg(64)->Arg(1024)->Arg(64 * 1024);

}  // namespace

int main(int argc, char** argv) {
    testsupport::ScopedCapturingLog log;  // the framer's log lines stay in memory
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
