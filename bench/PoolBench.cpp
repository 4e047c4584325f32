// Cost of the packet pool, the locked queue and the per-packet counter: an
// AllocPacket+FreePacket pair on one thread and on two at once, Push+Pop on a
// CThreadQueue on one thread and handed from one thread to another, and
// SecCounter::AddBytes.
#include <benchmark/benchmark.h>

#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "infra/SecCounter.h"
#include "tests/support/CapturingLog.h"

namespace {

using MMORPG::MMORPGPacket;

void BM_AllocFreePair(benchmark::State& state) {
    for (auto _ : state) {
        MMORPGPacket* packet = AllocPacket();
        benchmark::DoNotOptimize(packet);
        FreePacket(packet);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllocFreePair)->Threads(1)->Threads(2)->UseRealTime();

void BM_QueuePushPop(benchmark::State& state) {
    CThreadQueue<MMORPGPacket> queue;
    MMORPGPacket* packet = AllocPacket();
    for (auto _ : state) {
        queue.Push(packet);
        benchmark::DoNotOptimize(queue.Pop());
    }
    FreePacket(packet);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePushPop);

// A producer and a consumer on two threads at once, as between the relay's
// threads: what each packet costs when both ends of the queue are busy.
void BM_QueueHandOver(benchmark::State& state) {
    static CThreadQueue<MMORPGPacket>* queue = nullptr;
    static MMORPGPacket* token = nullptr;
    if (state.thread_index() == 0) {
        queue = new CThreadQueue<MMORPGPacket>;
        token = AllocPacket();
    }
    // Both threads run the same number of iterations: one pushes, the other
    // pops as many, retrying while the queue is momentarily empty.
    for (auto _ : state) {
        if (state.thread_index() == 0) {
            queue->Push(token);
        } else {
            while (queue->Pop() == nullptr) {
            }
        }
    }
    state.SetItemsProcessed(state.iterations());
    // The timing loop ends at a barrier, so the consumer has taken every
    // token by now and the queue is empty.
    if (state.thread_index() == 0) {
        delete queue;
        FreePacket(token);
    }
}
BENCHMARK(BM_QueueHandOver)->Threads(2)->UseRealTime();

void BM_CounterAddBytes(benchmark::State& state) {
    static SecCounter counter(1000);
    for (auto _ : state) counter.AddBytes(64);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CounterAddBytes)->Threads(1)->Threads(2)->UseRealTime();

// The send-loop path: a pooled packet queued, then copied out and freed.
void BM_QueuePushPacketPop(benchmark::State& state) {
    CThreadQueue<MMORPGPacket> queue;
    MMORPG::MMORPGPacket_Stack scratch;
    const std::string payload(64, 'p');
    for (auto _ : state) {
        MMORPGPacket* packet = AllocPacket();
        packet->ReadData(payload.data(), static_cast<int>(payload.size()));
        queue.Push(packet);
        benchmark::DoNotOptimize(queue.PacketPop(&scratch));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePushPacketPop);

}  // namespace

int main(int argc, char** argv) {
    testsupport::ScopedCapturingLog log;  // the pool's start-up line stays in memory
    GetPacketPool();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ReleasePacketPool();
    return 0;
}
