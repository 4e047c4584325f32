// What the packet recorder window's 10 ms timer costs the GUI thread when
// traffic arrives: one follow-up (RebuildView, the new row count, and the
// repaint that builds the visible rows) with 10000 and 95000 records held
// and 100 new ones per tick, as at 10000 packets per second. And the same
// under live traffic: a thread records 100 packets every 10 ms while the
// window runs its event loop; reported are the longest time the loop was
// held up and the GUI thread's processor time in that second.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QTableView>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <time.h>

#include "diag/PackRecorderManager.h"
#include "diag/window/PackRecoderFrm.h"

namespace {

constexpr int kFrameBytes = 64;
constexpr int kPacketsPerTick = 100;

// Counts the paints of the packet list, to show that a tick really repainted.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void Record(OneWayPackRec& direction, int n, int& serial) {
    std::string frame(kFrameBytes, '\0');
    for (int i = 0; i < n; ++i, ++serial) {
        for (int b = 0; b < kFrameBytes; ++b) frame[static_cast<size_t>(b)] = static_cast<char>(serial * 7 + b);
        direction.AddRecord(frame.data(), kFrameBytes, serial, 0);
    }
}

// The window over one recorder whose Recv side holds `held` records, in the
// given filter mode with one watch string that about one record in four matches.
struct RecorderWindow {
    RecorderWindow(int held, int32_t filterMode) : frm(manager) {
        frm.AddRecorderTab("GameServer", 3);
        recv = &manager.GetRecorder(0)->Recv();
        recv->SetEnabled(true);
        recv->AddWatch("00 01 02 ");
        recv->SetFilterMode(filterMode);
        Record(*recv, held, serial);
        frm.resize(520, 464);
        frm.ShowRecorder();
        list = frm.findChild<QTableView*>(QStringLiteral("lvPack"));
        list->viewport()->installEventFilter(&paints);
        QCoreApplication::processEvents();
    }
    PackRecorderManager manager;
    TPackRecoderFrm frm;
    OneWayPackRec* recv = nullptr;
    QTableView* list = nullptr;
    PaintCounter paints;
    int serial = 0;
};

void BM_TimerFollowUp(benchmark::State& state) {
    const int held = static_cast<int>(state.range(0));
    RecorderWindow w(held, static_cast<int32_t>(state.range(1)));
    w.paints.paints = 0;
    double refreshUs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Record(*w.recv, kPacketsPerTick, w.serial);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        w.frm.FollowNewRecords();
        refreshUs += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        // Runs the delayed layout and the repaint the refresh asked for.
        QCoreApplication::processEvents();
    }
    // The part of the time spent before Qt lays out and paints.
    state.counters["refresh_us"] = refreshUs / static_cast<double>(state.iterations());
    state.counters["rows"] = w.list->model()->rowCount();
    state.counters["paints/tick"] = benchmark::Counter(static_cast<double>(w.paints.paints) /
                                                       static_cast<double>(state.iterations()));
}
// 50 ticks add 5000 records, so the larger list stays below the 100000 limit.
BENCHMARK(BM_TimerFollowUp)
    ->ArgNames({"held", "mode"})
    ->ArgsProduct({{10000, 95000}, {0, 1, 2}})
    ->Iterations(50)
    ->Unit(benchmark::kMicrosecond);

// A second of live traffic at 10000 packets per second. The time columns
// include filling the list beforehand; the counters cover the second itself.
void BM_LiveTraffic(benchmark::State& state) {
    for (auto _ : state) {
        RecorderWindow w(static_cast<int>(state.range(0)), static_cast<int32_t>(state.range(1)));
        std::atomic<bool> stop{false};
        std::thread link([&] {
            auto next = std::chrono::steady_clock::now();
            while (!stop.load()) {
                Record(*w.recv, kPacketsPerTick, w.serial);
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
        });
        // A 1 ms probe timer: the longest wait between two of its calls is
        // the longest the window kept the event loop from anything else.
        QElapsedTimer run;
        QElapsedTimer pass;
        qint64 longestGapNs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestGapNs = std::max(longestGapNs, pass.nsecsElapsed());
            pass.restart();
        });
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        const double cpuStart = ThreadCpuSeconds();
        run.start();
        pass.start();
        probe.start(1);
        loop.exec();
        const double cpuUsed = ThreadCpuSeconds() - cpuStart;
        const double wall = static_cast<double>(run.nsecsElapsed()) / 1e9;
        stop = true;
        link.join();
        state.counters["longest_gap_ms"] = static_cast<double>(longestGapNs) / 1e6;
        state.counters["gui_cpu_pct"] = 100.0 * cpuUsed / wall;
        state.counters["rows"] = w.list->model()->rowCount();
        state.counters["paints"] = w.paints.paints;
    }
}
BENCHMARK(BM_LiveTraffic)
    ->ArgNames({"held", "mode"})
    ->ArgsProduct({{10000, 80000}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
