#include "infra/SecCounter.h"

#include <cstdio>

#include "platform/Tick.h"

SecCounter::SecCounter(uint32_t periodMs) : m_Period(periodMs) {}

void SecCounter::AddBytes(uint32_t n) {
    const uint32_t now = plat::GetCoarseTickMs();
    std::lock_guard lock(m_Mutex);
    m_TotalBytes += n;
    m_ByteAccumulator += n;
    m_CountAccumulator += 1;
    UpdateLocked(now);
}

void SecCounter::AddCount(uint32_t n) {
    const uint32_t now = plat::GetCoarseTickMs();
    std::lock_guard lock(m_Mutex);
    m_CountAccumulator += n;
    UpdateLocked(now);
}

int32_t SecCounter::GetCountRate() {
    const uint32_t now = plat::GetCoarseTickMs();
    std::lock_guard lock(m_Mutex);
    UpdateLocked(now);
    return m_CountRate;
}

int32_t SecCounter::GetByteRate() {
    const uint32_t now = plat::GetCoarseTickMs();
    std::lock_guard lock(m_Mutex);
    UpdateLocked(now);
    return m_ByteRate;
}

uint64_t SecCounter::GetTotalBytes() {
    std::lock_guard lock(m_Mutex);
    return m_TotalBytes;
}

std::string SecCounter::GetRateText() {
    const uint32_t now = plat::GetCoarseTickMs();
    double byteRateKb = 0;
    double totalKb = 0;
    int32_t countRate = 0;
    {
        std::lock_guard lock(m_Mutex);
        UpdateLocked(now);
        byteRateKb = static_cast<double>(m_ByteRate) / 1024;
        totalKb = static_cast<double>(m_TotalBytes) / 1024;
        countRate = m_CountRate;
    }
    char text[128];
    std::snprintf(text, sizeof(text), "%0.2f kb/s, total: %0.2f kb Cnt: %d", byteRateKb, totalKb, countRate);
    return text;
}

void SecCounter::Reset() {
    std::lock_guard lock(m_Mutex);
    m_FirstTick = 0;
    m_WindowStart = 0;
    m_CountRate = 0;
    m_CountAccumulator = 0;
    m_ByteRate = 0;
    m_ByteAccumulator = 0;
    m_TotalBytes = 0;
}

void SecCounter::UpdateLocked(uint32_t now) {
    if (m_WindowStart == 0) {
        // The event that opens the first window is not counted in it.
        m_WindowStart = now;
        m_CountAccumulator = 0;
    }
    if (m_FirstTick == 0) m_FirstTick = now;

    const uint32_t elapsed = now - m_WindowStart;
    // The second test keeps a zero period from dividing by zero.
    if (elapsed < m_Period || now == m_WindowStart) return;

    m_CountRate = static_cast<int32_t>(static_cast<uint64_t>(m_CountAccumulator) * m_Period / elapsed);
    m_ByteRate = static_cast<int32_t>(static_cast<uint64_t>(m_ByteAccumulator) * m_Period / elapsed);
    m_CountAccumulator = 0;
    m_ByteAccumulator = 0;
    m_WindowStart = now;
}
