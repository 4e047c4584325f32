// The thread registry and its workers, driven with real threads: start, the
// stop handshake, exit, the callback's return contract, wake-ups, exceptions
// in a callback, and the CPU sampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "infra/CommonFunc.h"
#include "infra/QXThreadEvent.h"
#include "infra/SingleThread.h"
#include "infra/ThreadManager.h"
#include "platform/CpuTimes.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "platform/WakeableSleep.h"
#include "tests/support/CapturingLog.h"

namespace {

using namespace std::chrono_literals;

// Upper bound for things that happen within milliseconds; reaching it means the
// behaviour is broken, not slow.
constexpr auto kPatience = 20s;

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds limit = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A worker whose return value the test chooses; it records what it saw.
struct Worker {
    std::atomic<int> calls{0};
    std::atomic<int> result{1};
    std::atomic<int> seenIndex{-100};
    std::atomic<bool> nameMatched{false};
    std::atomic<bool> handOffScheduling{false};
    std::string expectedName;
};

int WorkerCall(void* context, int threadIndex) {
    auto* worker = static_cast<Worker*>(context);
    worker->seenIndex.store(threadIndex);
    worker->nameMatched.store(worker->expectedName == plat::CurrentThreadName());
    worker->handOffScheduling.store(plat::CurrentThreadHasHandOffScheduling());
    worker->calls.fetch_add(1);
    return worker->result.load();
}

// Busy once, then -5 for ever.
int BusyThenMinusFive(void* context, int) {
    auto* worker = static_cast<Worker*>(context);
    return worker->calls.fetch_add(1) == 0 ? 0 : -5;
}

// Busy once, then asks for a two-minute sleep after every call.
int BusyOnceThenSleepLong(void* context, int) {
    auto* worker = static_cast<Worker*>(context);
    return worker->calls.fetch_add(1) == 0 ? 0 : 120000;
}

// An idle wait that records what its worker asks of it and sleeps on a
// wakeable sleep of its own.
class RecordingIdleWait final : public IIdleWait {
public:
    void WaitFor(uint32_t ms) override {
        if (ms == 0) {
            readyOnly.fetch_add(1);
            return;
        }
        lastWaitMs.store(ms);
        waits.fetch_add(1);
        m_Sleep.SleepFor(ms);
    }
    void Wake() override {
        wakes.fetch_add(1);
        m_Sleep.Wake();
    }

    std::atomic<int> readyOnly{0};
    std::atomic<int> waits{0};
    std::atomic<int> wakes{0};
    std::atomic<uint32_t> lastWaitMs{0};

private:
    plat::WakeableSleep m_Sleep;
};

// Work handed in by the test: a call takes one item if there is one, and
// otherwise counts an idle call and asks for a two-minute sleep.
struct Feed {
    std::atomic<int> items{0};
    std::atomic<int> idleCalls{0};
};

int TakeFromFeed(void* context, int) {
    auto* feed = static_cast<Feed*>(context);
    int items = feed->items.load();
    while (items > 0) {
        if (feed->items.compare_exchange_weak(items, items - 1)) return 0;
    }
    feed->idleCalls.fetch_add(1);
    return 120000;
}

// Throws on its third call.
int ThrowOnThirdCall(void* context, int) {
    auto* worker = static_cast<Worker*>(context);
    if (worker->calls.fetch_add(1) == 2) throw std::runtime_error("worker failed");
    return 1;
}

int ThrowNonStandard(void*, int) { throw 42; }

// Burns about 20 ms of this thread's CPU per call.
int BurnCpu(void* context, int) {
    plat::CpuTimes start;
    plat::GetCurrentThreadCpuTimes(start);
    plat::CpuTimes now = start;
    while ((now.kernel100ns + now.user100ns) - (start.kernel100ns + start.user100ns) < 200000) {
        plat::GetCurrentThreadCpuTimes(now);
    }
    static_cast<Worker*>(context)->calls.fetch_add(1);
    return 0;
}

// Position of the first entry with exactly this text, or -1.
int IndexOf(const testsupport::CapturingLog& log, const std::string& text) {
    const auto entries = log.Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].text == text) return static_cast<int>(i);
    }
    return -1;
}

class ThreadFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(manager.GetCount(), 0) << "an earlier test left threads registered"; }
    void TearDown() override { manager.ExitAll(); }

    SingleThread* Add(const std::string& name, Worker& worker, WorkCallback callback = &WorkerCall) {
        worker.expectedName = name;
        return manager.AddThread(name, callback, &worker, false);
    }

    // Registers and starts a worker that asks for a two-minute sleep after
    // every call, and waits until it has made its first call.
    SingleThread* StartSleeper(Worker& worker) {
        worker.result = 120000;
        SingleThread* thread = Add("Sleeper", worker);
        manager.StartAll();
        EXPECT_TRUE(WaitUntil([&] { return worker.calls == 1; }));
        return thread;
    }

    // Declared before the workers' users run and destroyed after TearDown's
    // ExitAll, so no worker thread outlives the context it writes to.
    testsupport::ScopedCapturingLog log;
    Worker workers[3];
    ThreadManager& manager = ThreadManager::Instance();
};

TEST(ThreadStateTextTest, EveryStateHasItsText) {
    EXPECT_STREQ(ThreadStateText(0), "Suspended");
    EXPECT_STREQ(ThreadStateText(1), "Not Busy :)");
    EXPECT_STREQ(ThreadStateText(2), "Busy");
    EXPECT_STREQ(ThreadStateText(3), "Initing..");
    EXPECT_STREQ(ThreadStateText(4), "UnIniting...");
    EXPECT_STREQ(ThreadStateText(5), "Terminate!");
    EXPECT_STREQ(ThreadStateText(6), "Exception Error");
    EXPECT_STREQ(ThreadStateText(7), "QXThread UnDefined State");
    EXPECT_STREQ(ThreadStateText(-1), "QXThread UnDefined State");
}

TEST(QXThreadEventTest, EnabledEventWaitsAndDisabledEventAnswersAbandonedAtOnce) {
    QXThreadEvent event("e");
    EXPECT_TRUE(event.IsEnabled());
    EXPECT_FALSE(event.IsOwnedByThread());
    EXPECT_EQ(event.Wait(5), plat::WaitResult::Timeout);
    event.Set();
    EXPECT_EQ(event.Wait(5), plat::WaitResult::Signaled);
    event.Reset();
    event.SetEnabled(false);
    // Not signalled, infinite wait: would hang if the flag were ignored.
    EXPECT_EQ(event.Wait(plat::kInfinite), plat::WaitResult::Abandoned);
}

TEST_F(ThreadFrameworkTest, AddThreadRegistersSuspendedThreadsIndexedInOrder) {
    Worker& a = workers[0];
    Worker& b = workers[1];
    Worker& c = workers[2];
    Add("A", a);
    Add("B", b);
    manager.AddThread("C", &WorkerCall, &c, true);
    ASSERT_EQ(manager.GetCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SingleThread* thread = manager.GetThread(i);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(thread->GetIndex(), i);
        EXPECT_EQ(thread->GetStateText(), "Suspended");
        EXPECT_EQ(thread->ThreadId(), 0) << "created suspended: no OS thread yet";
        EXPECT_EQ(thread->GetCpuUsage(), 0);
    }
    EXPECT_EQ(manager.GetThread(1)->GetName(), "B");
    EXPECT_FALSE(manager.GetThread(0)->GetComInit());
    EXPECT_TRUE(manager.GetThread(2)->GetComInit());
    const WorkCallbackPair pair = manager.GetThread(1)->GetWorkCallback();
    EXPECT_EQ(pair.callback, &WorkerCall);
    EXPECT_EQ(pair.context, &b);
    EXPECT_EQ(manager.GetThread(3), nullptr);
    EXPECT_EQ(manager.GetThread(-1), nullptr);
    EXPECT_EQ(a.calls.load() + b.calls.load() + c.calls.load(), 0);
}

TEST_F(ThreadFrameworkTest, StartAllLogsEachThreadAndRunsItsCallbackUnderItsName) {
    Worker& a = workers[0];
    Worker& b = workers[1];
    Add("A", a);
    Add("B", b);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return a.calls > 0 && b.calls > 0; }));
    const int self = plat::CurrentThreadId();
    for (const std::string name : {"A", "B"}) {
        const int starting = IndexOf(*log, "Starting thread : " + name + "...");
        const int started = IndexOf(*log, FormatText("Starting thread : %s OK! CurrentThreadID = %d", name.c_str(), self));
        ASSERT_GE(starting, 0) << name;
        EXPECT_GT(started, starting) << name;
    }
    EXPECT_EQ(a.seenIndex.load(), 0);
    EXPECT_EQ(b.seenIndex.load(), 1);
    EXPECT_TRUE(a.nameMatched.load()) << "the OS thread carries the worker's name";
    EXPECT_TRUE(a.handOffScheduling.load()) << "a woken worker must not preempt the one that woke it";
    EXPECT_FALSE(plat::CurrentThreadHasHandOffScheduling()) << "only the workers change policy";
    const int id = manager.GetThread(0)->ThreadId();
    EXPECT_NE(id, 0);
    EXPECT_TRUE(log->Has(llInfo, FormatText("A  Sys start id = %d; Class Start ID = %d", id, id)));
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0)->GetStateText() == "Not Busy :)"; }));
}

TEST_F(ThreadFrameworkTest, CallbackReturningMinusOneOnFirstCallEndsTheThread) {
    Worker& worker = workers[0];
    worker.result = -1;
    SingleThread* thread = Add("Quitter", worker);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0) == nullptr; }));
    ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
    EXPECT_EQ(worker.calls.load(), 1);
    EXPECT_TRUE(log->Has(llInfo, "Quitter Thread Exit"));
    EXPECT_EQ(thread->GetStateText(), "UnIniting...");
    EXPECT_EQ(manager.GetCount(), 1) << "the record stays until ExitAll";

    // An ended thread is not stopped, restarted or exited again.
    log->Clear();
    manager.StopAll();
    manager.StartAll();
    EXPECT_EQ(log->CountContaining("Quitter"), 0);
    EXPECT_EQ(worker.calls.load(), 1);
    manager.ExitAll();
    EXPECT_EQ(log->CountContaining("Quitter Thread Prepare Exit"), 0);
    EXPECT_TRUE(log->Has(llInfo, "All Thread Exit OK!"));
}

struct ExitObservation {
    SingleThread* thread = nullptr;
    testsupport::CapturingLog* log = nullptr;
    std::string stateAtExitNotify;
    bool exitLoggedBefore = false;
    int index = -100;
};

void ObserveExit(void* context, int threadIndex) {
    auto* seen = static_cast<ExitObservation*>(context);
    seen->stateAtExitNotify = seen->thread->GetStateText();
    seen->exitLoggedBefore = seen->log->Has(llInfo, "Direct Thread Exit");
    seen->index = threadIndex;
}

TEST_F(ThreadFrameworkTest, MinusOneSetsTerminateThenExitNotifyThenUnIniting) {
    Worker& worker = workers[0];
    worker.result = -1;
    SingleThread thread("Direct", &WorkerCall, &worker, false);
    thread.SetIndex(7);
    ExitObservation seen;
    seen.thread = &thread;
    seen.log = &*log;
    thread.SetExitNotify(&ObserveExit, &seen);
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(seen.stateAtExitNotify, "Terminate!");
    EXPECT_TRUE(seen.exitLoggedBefore);
    EXPECT_EQ(seen.index, 7);
    EXPECT_EQ(thread.GetStateText(), "UnIniting...");
}

TEST_F(ThreadFrameworkTest, OtherNegativeResultCallsAgainAtOnceWithoutStateChange) {
    Worker& worker = workers[0];
    Add("Repeater", worker, &BusyThenMinusFive);
    manager.StartAll();
    // Each -5 call comes without a sleep; a thousand take well under the limit.
    ASSERT_TRUE(WaitUntil([&] { return worker.calls > 1000; }));
    EXPECT_EQ(manager.GetThread(0)->GetStateText(), "Busy");
    EXPECT_FALSE(log->Has(llInfo, "Repeater Thread Exit"));
}

TEST_F(ThreadFrameworkTest, StopAllBeforeStartAllResumesEachThreadAndParksItSuspended) {
    Worker& a = workers[0];
    Worker& b = workers[1];
    Add("A", a);
    Add("B", b);
    manager.StopAll();
    for (int i = 0; i < 2; ++i) {
        SingleThread* thread = manager.GetThread(i);
        EXPECT_NE(thread->ThreadId(), 0) << "resumed to acknowledge";
        EXPECT_EQ(thread->GetStateText(), "Suspended");
        EXPECT_TRUE(thread->IsSuspended());
    }
    const std::vector<std::string> order = {"A Stopping...", "A Stopp OK", "B Stopping...", "B Stopp OK",
                                            "All Thread Stopped"};
    int previous = -1;
    for (const auto& text : order) {
        const int at = IndexOf(*log, text);
        EXPECT_GT(at, previous) << text;
        previous = at;
    }
    EXPECT_TRUE(log->Has(llWarn, "A Thread Stop"));
    EXPECT_TRUE(log->Has(llWarn, "B Thread Stop"));
    EXPECT_LT(IndexOf(*log, "A Thread Stop"), IndexOf(*log, "A Stopp OK"));
}

TEST_F(ThreadFrameworkTest, StartAllAfterStopAllRunsAgainRoundAfterRound) {
    Worker& busy = workers[0];
    Worker& sleeper = workers[1];
    Worker& third = workers[2];
    busy.result = 0;
    Add("Busy", busy);
    Add("Sleeper", sleeper);
    Add("Third", third);
    // StartAll right after StopAll: a lost resume would leave a worker parked.
    for (int round = 0; round < 100; ++round) {
        const int before[3] = {busy.calls, sleeper.calls, third.calls};
        manager.StartAll();
        ASSERT_TRUE(WaitUntil([&] {
            return busy.calls > before[0] && sleeper.calls > before[1] && third.calls > before[2];
        })) << "round " << round;
        manager.StopAll();
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(manager.GetThread(i)->GetState(), tsSuspended) << "round " << round << " thread " << i;
        }
    }
    manager.StartAll();
    const int after = sleeper.calls;
    ASSERT_TRUE(WaitUntil([&] { return sleeper.calls > after; }));
    EXPECT_EQ(log->Texts(llWarn).size(), 300u);
}

TEST_F(ThreadFrameworkTest, ExitAllJoinsEveryThreadInOrderAndClearsTheRegistry) {
    Worker& a = workers[0];
    Worker& b = workers[1];
    SingleThread* threadA = Add("A", a);
    Add("B", b);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return a.calls > 0 && b.calls > 0; }));
    const int aId = threadA->ThreadId();
    manager.ExitAll();
    EXPECT_EQ(manager.GetCount(), 0);
    EXPECT_EQ(manager.GetThread(0), nullptr);
    const std::vector<std::string> order = {"A Thread Prepare Exit", "A Thread Exit", "B Thread Prepare Exit",
                                            "B Thread Exit", "All Thread Exit OK!"};
    int previous = -1;
    for (const auto& text : order) {
        const int at = IndexOf(*log, text);
        EXPECT_GT(at, previous) << text;
        previous = at;
    }
    EXPECT_NE(aId, 0);
    // Joined: no worker calls after ExitAll returned.
    const int calls = a.calls;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(a.calls.load(), calls);
}

TEST_F(ThreadFrameworkTest, ExitAllEndsThreadsThatNeverStartedAndParkedOnes) {
    Worker& never = workers[0];
    Worker& parked = workers[1];
    Add("Never", never);
    Add("Parked", parked);
    manager.GetThread(1)->Resume();
    ASSERT_TRUE(WaitUntil([&] { return parked.calls > 0; }));
    manager.GetThread(1)->Stop();
    manager.ExitAll();
    EXPECT_TRUE(log->Has(llInfo, "Never Thread Prepare Exit"));
    EXPECT_TRUE(log->Has(llInfo, "Never Thread Exit"));
    EXPECT_TRUE(log->Has(llInfo, "Parked Thread Exit"));
    EXPECT_EQ(never.calls.load(), 0);
    EXPECT_EQ(manager.GetCount(), 0);
}

TEST_F(ThreadFrameworkTest, WakeEndsALongSleepEarly) {
    Worker& worker = workers[0];
    SingleThread* thread = StartSleeper(worker);
    thread->Wake();
    EXPECT_TRUE(WaitUntil([&] { return worker.calls == 2; })) << "the two-minute sleep was not cut short";
    EXPECT_EQ(thread->GetStateText(), "Not Busy :)");
}

TEST_F(ThreadFrameworkTest, StopAllWakesASleepingWorkerInsteadOfWaitingOutItsSleep) {
    StartSleeper(workers[0]);
    const auto before = std::chrono::steady_clock::now();
    manager.StopAll();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    EXPECT_GE(IndexOf(*log, "Sleeper Stopp OK"), 0);
}

TEST_F(ThreadFrameworkTest, ExitAllWakesASleepingWorkerInsteadOfWaitingOutItsSleep) {
    StartSleeper(workers[0]);
    auto exited = std::async(std::launch::async, [&] { manager.ExitAll(); });
    EXPECT_EQ(exited.wait_for(kPatience), std::future_status::ready);
    exited.get();
    EXPECT_TRUE(log->Has(llInfo, "Sleeper Thread Exit"));
    EXPECT_EQ(workers[0].calls.load(), 1);
}

TEST_F(ThreadFrameworkTest, AnIdleWaitReplacesTheSleepAndGetsATurnAfterBusyCalls) {
    Worker& worker = workers[0];
    SingleThread* thread = Add("Waiter", worker, &BusyOnceThenSleepLong);
    auto owned = std::make_unique<RecordingIdleWait>();
    RecordingIdleWait* wait = owned.get();
    thread->SetIdleWait(std::move(owned));
    manager.StartAll();

    ASSERT_TRUE(WaitUntil([&] { return wait->waits == 1; }));
    EXPECT_EQ(worker.calls.load(), 2);
    EXPECT_EQ(wait->readyOnly.load(), 1);  // after the busy first call
    EXPECT_EQ(wait->lastWaitMs.load(), 120000u);

    thread->Wake();
    EXPECT_TRUE(WaitUntil([&] { return worker.calls == 3; })) << "the wake did not reach the idle wait";
    EXPECT_EQ(wait->wakes.load(), 1);

    const auto before = std::chrono::steady_clock::now();
    manager.StopAll();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    EXPECT_GE(wait->wakes.load(), 2);
}

TEST_F(ThreadFrameworkTest, AWorkerPollsAfterWorkOnlyWhileItsIdleGapsAreShorterThanThePoll) {
    Feed feed;
    SingleThread* thread = manager.AddThread("Poller", &TakeFromFeed, &feed, false);
    thread->SetSpinMicros(5000);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return feed.idleCalls == 1; }));
    // Each item ends an idle gap; the idle calls it is followed by tell
    // whether the worker slept at once (one) or polled (many).
    const auto idleCallsAfter = [&](int items, std::chrono::milliseconds apart) {
        const int before = feed.idleCalls.load();
        for (int k = 0; k < items; ++k) {
            std::this_thread::sleep_for(apart);
            feed.items.fetch_add(1);
            thread->Wake();
        }
        EXPECT_TRUE(WaitUntil([&] { return feed.items == 0; }));
        std::this_thread::sleep_for(20ms);  // longer than the poll
        return feed.idleCalls.load() - before;
    };

    // Gaps far longer than the poll: it never starts.
    EXPECT_LE(idleCallsAfter(8, 30ms), 8 + 2);
    // Gaps well inside it: after a few the worker polls between items.
    EXPECT_GT(idleCallsAfter(40, 1ms), 40 * 3);
    // Polling ends with the poll's bound: an idle worker is asleep.
    const int settled = feed.idleCalls.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(feed.idleCalls.load(), settled);
    // Long gaps again: a gap or two may still be polled, then it stops.
    idleCallsAfter(3, 30ms);
    EXPECT_LE(idleCallsAfter(8, 30ms), 8 + 2);
}

TEST_F(ThreadFrameworkTest, ExceptionInCallbackIsLoggedAndEndsOnlyThatWorker) {
    Worker& thrower = workers[0];
    Worker& steady = workers[1];
    Add("Thrower", thrower, &ThrowOnThirdCall);
    Add("Steady", steady);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0)->GetState() == tsExceptionError; }));
    ASSERT_TRUE(WaitUntil([&] { return !log->Texts(llError).empty(); }));

    const auto errors = log->Texts(llError);
    ASSERT_EQ(errors.size(), 1u);
    const std::string prefix =
        FormatText("Thrower CPP_TYPED_EXCEPTION %0x Exception Call Stack:\r\n",
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(&ThrowOnThirdCall)));
    EXPECT_EQ(errors[0].substr(0, prefix.size()), prefix);
    EXPECT_GT(errors[0].size(), prefix.size()) << "frames follow";
    EXPECT_EQ(thrower.calls.load(), 3) << "the loop is not resumed";
    EXPECT_FALSE(log->Has(llInfo, "Thrower Thread Exit"));

    const int steadyCalls = steady.calls;
    ASSERT_TRUE(WaitUntil([&] { return steady.calls > steadyCalls + 2; })) << "the other worker goes on";
    EXPECT_EQ(manager.GetThread(0)->GetStateText(), "Exception Error");

    // The failed worker must not hold up the stop handshake or the exit.
    manager.StopAll();
    EXPECT_EQ(log->CountContaining("Thrower Stopping..."), 0);
    EXPECT_TRUE(log->Has(llInfo, "Steady Stopp OK"));
    manager.ExitAll();
    EXPECT_TRUE(log->Has(llInfo, "Thrower Thread Prepare Exit"));
    EXPECT_TRUE(log->Has(llInfo, "All Thread Exit OK!"));
}

TEST_F(ThreadFrameworkTest, ExceptionOfAnyTypeIsCaught) {
    Worker& worker = workers[0];
    Add("Odd", worker, &ThrowNonStandard);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return !log->Texts(llError).empty(); }));
    EXPECT_EQ(log->Texts(llError)[0].rfind("Odd CPP_TYPED_EXCEPTION ", 0), 0u);
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThread(0)->Finished(); }));
    EXPECT_EQ(manager.GetThread(0)->GetStateText(), "Exception Error");
}

TEST_F(ThreadFrameworkTest, StopAllReleasesFreeEventsForGoodButLeavesStopEventsAlone) {
    QXThreadEvent* free = manager.CreateEvent("free");
    Worker& worker = workers[0];
    Add("A", worker);
    manager.StartAll();
    manager.StopAll();
    EXPECT_TRUE(free->IsSet());
    EXPECT_FALSE(free->IsEnabled());
    free->Reset();
    EXPECT_EQ(free->Wait(plat::kInfinite), plat::WaitResult::Abandoned);
    // The thread's own stop event still works: a second round stops again.
    manager.StartAll();
    manager.StopAll();
    EXPECT_EQ(log->Texts(llWarn).size(), 2u);
}

TEST_F(ThreadFrameworkTest, FirstCpuSampleOnlyPrimesAndALaterOneMeasures) {
    plat::TestClock clock(5000);
    Worker& worker = workers[0];
    Add("Burner", worker, &BurnCpu);
    manager.StartAll();
    ASSERT_TRUE(WaitUntil([&] { return worker.calls >= 3; }));
    SingleThread* thread = manager.GetThread(0);
    EXPECT_EQ(thread->GetCpuUsage(), 0) << "the tick has not moved: only the priming sample exists";
    EXPECT_EQ(thread->GetKernelCpuUsage(), 0);

    clock.Advance(999);
    const int before = worker.calls;
    ASSERT_TRUE(WaitUntil([&] { return worker.calls >= before + 2; }));
    EXPECT_EQ(thread->GetCpuUsage(), 0) << "fewer than 1000 ms since the first sample";

    clock.Advance(1);
    ASSERT_TRUE(WaitUntil([&] { return thread->GetCpuUsage() > 0; }));
    EXPECT_LE(thread->GetCpuUsage(), 100);
    EXPECT_GE(thread->GetKernelCpuUsage(), 0);
    EXPECT_LE(thread->GetKernelCpuUsage(), thread->GetCpuUsage());
}

}  // namespace
