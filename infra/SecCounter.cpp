#include "infra/SecCounter.h"

#include <cstdio>

#include "platform/Tick.h"

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
// How far behind the window's start a tick may be and still count as read
// before another thread's roll: far more than a feeder is ever held up
// between reading the tick and updating, far less than the tick's wrap.
constexpr uint32_t kStaleTickMs = 60000;
}  // namespace

SecCounter::SecCounter(uint32_t periodMs) : m_Period(periodMs) {}

void SecCounter::AddBytes(uint32_t n) { AddEvents(1, n); }

void SecCounter::AddEvents(uint32_t events, uint64_t bytes) {
    if (events == 0) return;
    const uint32_t now = plat::GetCoarseTickMs();
    m_TotalBytes.fetch_add(bytes, kRelaxed);
    // The window's accumulator is 32 bits wide like a Windows DWORD; a
    // window's rate is a display value, the total stays exact.
    m_ByteAccumulator.fetch_add(static_cast<uint32_t>(bytes), kRelaxed);
    m_CountAccumulator.fetch_add(events, kRelaxed);
    Update(now);
}

void SecCounter::AddCount(uint32_t n) {
    const uint32_t now = plat::GetCoarseTickMs();
    m_CountAccumulator.fetch_add(n, kRelaxed);
    Update(now);
}

int32_t SecCounter::GetCountRate() {
    Update(plat::GetCoarseTickMs());
    return m_CountRate.load(kRelaxed);
}

int32_t SecCounter::GetByteRate() {
    Update(plat::GetCoarseTickMs());
    return m_ByteRate.load(kRelaxed);
}

uint64_t SecCounter::GetTotalBytes() { return m_TotalBytes.load(kRelaxed); }

std::string SecCounter::GetRateText() {
    double byteRateKb = 0;
    double totalKb = 0;
    int32_t countRate = 0;
    {
        // Under the roll lock, so the three values come from the same window.
        std::lock_guard lock(m_RollMutex);
        UpdateLocked(plat::GetCoarseTickMs());
        byteRateKb = static_cast<double>(m_ByteRate.load(kRelaxed)) / 1024;
        totalKb = static_cast<double>(m_TotalBytes.load(kRelaxed)) / 1024;
        countRate = m_CountRate.load(kRelaxed);
    }
    char text[128];
    std::snprintf(text, sizeof(text), "%0.2f kb/s, total: %0.2f kb Cnt: %d", byteRateKb, totalKb, countRate);
    return text;
}

void SecCounter::Reset() {
    std::lock_guard lock(m_RollMutex);
    m_FirstTick.store(0, kRelaxed);
    m_WindowStart.store(0, std::memory_order_release);
    m_CountRate.store(0, kRelaxed);
    m_CountAccumulator.store(0, kRelaxed);
    m_ByteRate.store(0, kRelaxed);
    m_ByteAccumulator.store(0, kRelaxed);
    m_TotalBytes.store(0, kRelaxed);
}

void SecCounter::Update(uint32_t now) {
    const uint32_t windowStart = m_WindowStart.load(std::memory_order_acquire);
    // The common case of the tests below; the second part keeps a zero
    // period from dividing by zero.
    if (windowStart != 0 && (now - windowStart < m_Period || now == windowStart)) return;
    std::lock_guard lock(m_RollMutex);
    UpdateLocked(now);
}

void SecCounter::UpdateLocked(uint32_t now) {
    uint32_t windowStart = m_WindowStart.load(kRelaxed);
    if (windowStart == 0) {
        // The event that opens the first window is not counted in it.
        windowStart = now;
        m_WindowStart.store(now, std::memory_order_release);
        m_CountAccumulator.store(0, kRelaxed);
    }
    if (m_FirstTick.load(kRelaxed) == 0) m_FirstTick.store(now, kRelaxed);

    // A tick read just before another thread rolled the window lies behind
    // its start; measured by unsigned difference it would look like a whole
    // wrap of the tick and turn the window into a rate of nearly zero.
    if (now != windowStart && windowStart - now <= kStaleTickMs) return;
    const uint32_t elapsed = now - windowStart;
    if (elapsed < m_Period || now == windowStart) return;

    const uint64_t counted = m_CountAccumulator.exchange(0, kRelaxed);
    const uint64_t bytes = m_ByteAccumulator.exchange(0, kRelaxed);
    m_CountRate.store(static_cast<int32_t>(counted * m_Period / elapsed), kRelaxed);
    m_ByteRate.store(static_cast<int32_t>(bytes * m_Period / elapsed), kRelaxed);
    m_WindowStart.store(now, std::memory_order_release);
}
