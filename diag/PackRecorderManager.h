// The process-wide list of packet recorders. The GUI thread creates them once
// while links already run, and links look them up on every packet from their
// network threads, so the list is append-only with a fixed capacity and an
// atomically published count: a lookup never sees a half-added recorder and
// never takes a lock. Recorders live as long as the process.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "diag/PackRecorder.h"

class PackRecorderManager {
public:
    static constexpr int kMaxRecorders = 16;

    static PackRecorderManager& Instance();

    PackRecorderManager() = default;
    PackRecorderManager(const PackRecorderManager&) = delete;
    PackRecorderManager& operator=(const PackRecorderManager&) = delete;

    // GUI thread. Returns null when the list is full.
    PackRecorder* CreateRecorder(const std::string& name, int32_t number);
    // Any thread: the first recorder with that number, or null.
    PackRecorder* FindRecorder(int32_t number) const;
    PackRecorder* GetRecorder(int index) const;
    int GetCount() const { return m_Count.load(std::memory_order_acquire); }

    void EnableAll(bool enabled);
    void ClearNotifyAll();
    void ClearAll(bool resetSequence);

private:
    std::array<std::unique_ptr<PackRecorder>, kMaxRecorders> m_Recorders;
    std::atomic<int> m_Count{0};
};
