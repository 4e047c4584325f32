#include "infra/PollPartners.h"

#include "platform/Thread.h"

namespace {

int64_t MicrosOf(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

}  // namespace

int PollPartners::TakeSeat() {
    const int seat = m_SeatsTaken.fetch_add(1, std::memory_order_relaxed);
    return seat < kMaxSeats ? seat : -1;
}

bool PollPartners::NotePollLook(int seat, std::chrono::steady_clock::time_point now) {
    if (seat < 0 || seat >= kMaxSeats) return false;
    const int cpu = plat::CurrentCpu();
    const int64_t nowMicros = MicrosOf(now);
    m_Seats[seat].cpu.store(cpu, std::memory_order_relaxed);
    m_Seats[seat].lookMicros.store(nowMicros, std::memory_order_relaxed);
    if (cpu < 0 || !PartnerPollsOn(seat, cpu, nowMicros) || !ClaimMove(nowMicros)) return false;
    if (!plat::MoveCurrentThreadOffCpu(cpu)) return false;
    m_Moves.fetch_add(1, std::memory_order_relaxed);
    m_Seats[seat].cpu.store(plat::CurrentCpu(), std::memory_order_relaxed);
    return true;
}

bool PollPartners::PartnerPollsOn(int seat, int cpu, int64_t nowMicros) const {
    const int taken = m_SeatsTaken.load(std::memory_order_relaxed);
    for (int other = 0; other < taken && other < kMaxSeats; ++other) {
        if (other == seat || m_Seats[other].cpu.load(std::memory_order_relaxed) != cpu) continue;
        if (nowMicros - m_Seats[other].lookMicros.load(std::memory_order_relaxed) < kTogether.count()) return true;
    }
    return false;
}

bool PollPartners::ClaimMove(int64_t nowMicros) {
    int64_t last = m_LastMoveMicros.load(std::memory_order_relaxed);
    const int64_t cooldown = std::chrono::duration_cast<std::chrono::microseconds>(kMoveCooldown).count();
    if (nowMicros - last < cooldown) return false;
    // Only one of the partners that see each other moves.
    return m_LastMoveMicros.compare_exchange_strong(last, nowMicros, std::memory_order_relaxed);
}
