// Throughput of the listening side over the real network module on
// 127.0.0.1: frames from 1 or 8 peers through ProcessNetMsg into OnRecvPack
// (a pooled packet on the core's queue), and packets from PushSendPack out
// to the peers through SendAll. cpu_ns_per_pkt is the CPU time of the thread
// that plays the gateway's process thread, per packet.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <ctime>

#include "platform/WakeableSleep.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/NetProcess.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/PacketFrames.h"

namespace {

constexpr int kFramesPerPeer = 2000;

class BenchServerObj final : public IServerObj {
public:
    using IServerObj::IServerObj;
    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override {
        MMORPG::MMORPGPacket* packet = AllocPacket();
        packet->SetPackHead(head);
        packet->ReadData(data, len);
        GetTargetQueue()->Push(packet);
    }
};

class BenchProcess final : public INetProcess {
public:
    using INetProcess::INetProcess;
    void CreateServerObj(INetService* service, QXNetClient* client) override {
        AddServerObj(client, std::make_unique<BenchServerObj>(service, client->GetPoolIndex(), GetTargetQueue()));
    }
    void OnConnected(INetService*, QXNetClient*) override {}
    void OnRecvData(INetService*, QXNetClient* client, const char* data, int len) override {
        static_cast<IServerObj*>(client->GetUserObj())->OnRecvBytes(data, len);
    }
    void OnDisconnected(INetService*, QXNetClient*) override {}
    void OnClientNotify(INetService*, QXNetClient*) override {}
};

// Nanoseconds of CPU of the calling thread; finer than the 100 ns counters,
// which the kernel only updates per scheduler tick.
uint64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// The process thread's idle wait: woken by the service when a message
// arrives, as the gateway's process thread is.
class Sleeper final : public IWakeable {
public:
    void Wake() override { m_Sleep.Wake(); }
    void SleepFor(uint32_t ms) { m_Sleep.SleepFor(ms); }

private:
    plat::WakeableSleep m_Sleep;
};

// A listening service with `peers` connected peers and no flood or queue
// limits, so the figures show the path's cost rather than the limits.
struct Rig {
    explicit Rig(int peerCount) : process(&received) {
        process.SetWakeTarget(&sleeper);
        process.StartService(0, peerCount);
        for (int id : {NETPARAM_HACK_ATTACK_VALUE, NETPARAM_MAX_SEND_MSG_QUEUE_COUNT,
                       NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE, NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE}) {
            process.SetServiceParam(id, 0);
        }
        const uint16_t port = process.GetService()->GetListenPort();
        for (int i = 0; i < peerCount; ++i) peers.push_back(std::make_unique<nettest::LoopbackPeer>(port));
        while (process.GetOnlineCount() < peerCount) {
            process.ProcessNetMsg();
            std::this_thread::yield();
        }
    }
    ~Rig() { received.Clear(); }

    testsupport::ScopedCapturingLog log;
    Sleeper sleeper;
    PacketQueue received;
    BenchProcess process;
    std::vector<std::unique_ptr<nettest::LoopbackPeer>> peers;
};

void BM_ReceiveIntoQueue(benchmark::State& state) {
    const int peerCount = static_cast<int>(state.range(0));
    const std::string payload(static_cast<size_t>(state.range(1)), 'r');
    Rig rig(peerCount);
    std::string burst;
    for (int i = 0; i < kFramesPerPeer; ++i) burst += testsupport::PacketFrame({}, payload);
    const int64_t perIteration = static_cast<int64_t>(peerCount) * kFramesPerPeer;
    uint64_t cpu = 0;
    for (auto _ : state) {
        std::vector<std::thread> senders;
        for (auto& peer : rig.peers) senders.emplace_back([&peer, &burst] { peer->Send(burst); });
        const uint64_t cpuBefore = ThreadCpuNs();
        int64_t got = 0;
        while (got < perIteration) {
            rig.process.ProcessNetMsg();
            bool any = false;
            while (MMORPG::MMORPGPacket* packet = rig.received.Pop()) {
                FreePacket(packet);
                ++got;
                any = true;
            }
            if (!any) rig.sleeper.SleepFor(1);
        }
        cpu += ThreadCpuNs() - cpuBefore;
        for (auto& sender : senders) sender.join();
    }
    const int64_t packets = state.iterations() * perIteration;
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(packets * static_cast<int64_t>(payload.size() + 15));
    state.counters["cpu_ns_per_pkt"] = static_cast<double>(cpu) / static_cast<double>(packets);
}
BENCHMARK(BM_ReceiveIntoQueue)->Args({1, 64})->Args({1, 1024})->Args({8, 64})->Args({8, 1024})->UseRealTime();

void BM_SendToPeers(benchmark::State& state) {
    const int peerCount = static_cast<int>(state.range(0));
    const std::string payload(static_cast<size_t>(state.range(1)), 's');
    Rig rig(peerCount);
    const size_t bytesPerPeer = kFramesPerPeer * (payload.size() + 15);
    uint64_t cpu = 0;
    for (auto _ : state) {
        std::vector<std::thread> readers;
        for (auto& peer : rig.peers) {
            readers.emplace_back([&peer, bytesPerPeer] { benchmark::DoNotOptimize(peer->Receive(bytesPerPeer)); });
        }
        const uint64_t cpuBefore = ThreadCpuNs();
        for (int k = 0; k < peerCount; ++k) {
            IServerObj* serverObj = rig.process.GetOnlineServerObj(k);
            for (int i = 0; i < kFramesPerPeer; ++i) {
                MMORPG::MMORPGPacket* packet = AllocPacket();
                packet->SetPackType(1);
                packet->SetSrcServerType(1);
                packet->SetDestServerType(3);
                packet->ReadData(payload.data(), static_cast<int>(payload.size()));
                serverObj->PushSendPack(packet);
            }
        }
        rig.process.SendAll();
        cpu += ThreadCpuNs() - cpuBefore;
        for (auto& reader : readers) reader.join();
    }
    const int64_t packets = state.iterations() * peerCount * kFramesPerPeer;
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(packets * static_cast<int64_t>(payload.size() + 15));
    state.counters["cpu_ns_per_pkt"] = static_cast<double>(cpu) / static_cast<double>(packets);
}
BENCHMARK(BM_SendToPeers)->Args({1, 64})->Args({1, 1024})->Args({8, 64})->Args({8, 1024})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
