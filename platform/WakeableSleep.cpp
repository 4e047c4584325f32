#include "WakeableSleep.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace plat {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is the atomic itself");

uint32_t* FutexWord(std::atomic<uint32_t>& state) { return reinterpret_cast<uint32_t*>(&state); }

timespec DeadlineAfter(uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

// Blocks while the word still holds `expected`, until woken or the
// CLOCK_MONOTONIC deadline passes; false once the deadline has passed.
bool WaitUntil(std::atomic<uint32_t>& state, uint32_t expected, const timespec& deadline) {
    const long result = syscall(SYS_futex, FutexWord(state), FUTEX_WAIT_BITSET_PRIVATE, expected, &deadline, nullptr,
                                FUTEX_BITSET_MATCH_ANY);
    return result == 0 || errno != ETIMEDOUT;
}

}  // namespace

bool WakeableSleep::SleepFor(uint32_t ms) {
    uint32_t state = kIdle;
    if (!m_State.compare_exchange_strong(state, kSleeping, std::memory_order_acq_rel)) {
        // A wake came first: use it up. An exchange, not a store: a second
        // Wake may land between the compare and here, and only a
        // read-modify-write reads its write, so that what the waker published
        // before it is seen by the caller's next look at its work.
        m_State.exchange(kIdle, std::memory_order_acq_rel);
        return true;
    }
    const timespec deadline = DeadlineAfter(ms);
    // Interruptions and spurious returns go back to sleep until a Wake()
    // has changed the word or the time is up.
    while (m_State.load(std::memory_order_acquire) == kSleeping) {
        if (!WaitUntil(m_State, kSleeping, deadline)) break;
    }
    return m_State.exchange(kIdle, std::memory_order_acq_rel) == kWakePending;
}

void WakeableSleep::Wake() {
    if (m_State.exchange(kWakePending, std::memory_order_acq_rel) == kSleeping) {
        syscall(SYS_futex, FutexWord(m_State), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
}

}  // namespace plat
