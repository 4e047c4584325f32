// Cost of the main window's one-second refresh tick to the window thread,
// with the relay running and its listening services holding many connected
// peers (on 127.0.0.1), the watch page of one service list on screen.
// Qt's offscreen platform paints into memory, so painting is counted too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "app/window/TfrmVarnholtWindow.h"
#include "core/ServerCore.h"
#include "infra/ThreadManager.h"
#include "tests/support/LoopbackPeer.h"

namespace {

constexpr int kSlotsPerService = 400;

void RaiseDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// A running relay (with its threads) and peers spread over its services.
class RelayWithPeers {
public:
    explicit RelayWithPeers(int peers) {
        CServerCore* core = GetServerCore();
        core->StartThreads();
        core->Start(0, kSlotsPerService, 0, kSlotsPerService, 0, kSlotsPerService, "127.0.0.1",
                    m_DataServer.Port());
        m_DataLink = m_DataServer.Accept();
        ThreadManager::Instance().StartAll();
        INetProcess* services[] = {core->GetLoginServerCore(), core->GetGameServerCore(), core->GetRouteServerCore()};
        for (int i = 0; i < peers; ++i) {
            const uint16_t port = services[i % 3]->GetService()->GetListenPort();
            m_Peers.push_back(std::make_unique<nettest::LoopbackPeer>(port));
        }
        // Wait until every server object exists.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        auto created = [&] {
            int sum = 0;
            for (INetProcess* service : services) sum += service->GetServerObjCount();
            return sum;
        };
        while (created() < peers && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~RelayWithPeers() {
        m_Peers.clear();
        GetServerCore()->Stop();
        ThreadManager::Instance().StopAll();
        ThreadManager::Instance().ExitAll();
    }

private:
    nettest::LoopbackListener m_DataServer;
    std::unique_ptr<nettest::LoopbackPeer> m_DataLink;
    std::vector<std::unique_ptr<nettest::LoopbackPeer>> m_Peers;
};

void BM_RefreshTick(benchmark::State& state) {
    const int peers = static_cast<int>(state.range(0));
    TfrmVarnholtWindow window(nullptr);
    window.Flow().Extensions().Run(ExtensionPoint::OnCreateViews);
    RelayWithPeers relay(peers);
    window.resize(980, 660);
    window.show();
    window.ShowPage(QStringLiteral("tsWatchLoginServer"));
    QApplication::processEvents();
    for (auto _ : state) {
        window.RefreshTick();
        // The tick's repaint requests are served before the next tick.
        QApplication::processEvents();
    }
    state.counters["peers"] = peers;
    window.Flow().Extensions().Run(ExtensionPoint::OnDestroyViews);
}
BENCHMARK(BM_RefreshTick)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    RaiseDescriptorLimit();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
