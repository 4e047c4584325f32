// PollPartners: the workers that hand work to one another and poll after
// work (the dispatch and process threads). Two of them polling on one CPU
// yield it back and forth between each other, so the pair works on that
// CPU's time alone, and every hand-over to the peers on the other CPU
// becomes a wake-up across CPUs. The scheduler does not part them itself:
// a poller has always just run, so it counts as cache-hot and stays. While
// two partners poll on the same CPU, the one that notices moves itself to
// another CPU it may run on (a nudge, not a pin), at most once per
// kMoveCooldown for the whole group.
//
// TakeSeat and NotePollLook are called by the polling workers themselves,
// any number at once; the counts may be read from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

class PollPartners {
public:
    static constexpr int kMaxSeats = 4;
    // Two looks this close together count as polling at the same time.
    static constexpr std::chrono::microseconds kTogether{100};
    // The kernel may bring a moved worker back; a move within this time
    // after the last one is left out, so the two never chase each other.
    static constexpr std::chrono::milliseconds kMoveCooldown{50};

    PollPartners() = default;
    PollPartners(const PollPartners&) = delete;
    PollPartners& operator=(const PollPartners&) = delete;

    // A seat for the calling worker; -1 once all are taken (NotePollLook
    // then does nothing).
    int TakeSeat();
    // One look of the caller's poll at `now`: records where it runs, and
    // moves it off its CPU when a partner polled there just now. True when
    // it moved.
    bool NotePollLook(int seat, std::chrono::steady_clock::time_point now);

    uint64_t MoveCount() const { return m_Moves.load(std::memory_order_relaxed); }

private:
    // Each seat on a cache line of its own: the owner writes it at every
    // look, its partners only read it.
    struct alignas(64) Seat {
        std::atomic<int> cpu{-1};
        std::atomic<int64_t> lookMicros{0};
    };
    bool PartnerPollsOn(int seat, int cpu, int64_t nowMicros) const;
    bool ClaimMove(int64_t nowMicros);

    std::array<Seat, kMaxSeats> m_Seats;
    std::atomic<int> m_SeatsTaken{0};
    alignas(64) std::atomic<int64_t> m_LastMoveMicros{INT64_MIN / 2};
    std::atomic<uint64_t> m_Moves{0};
};
