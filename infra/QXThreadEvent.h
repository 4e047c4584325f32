// A manual-reset event of the thread registry. Every event lives in
// ThreadManager's event list, which owns it; threads and other users keep
// raw pointers. Events not owned by a thread are signalled and disabled by
// ThreadManager::StopAll/ExitAll so that nobody keeps waiting on them during
// shutdown: a disabled event answers every Wait at once with Abandoned.
// All operations are safe from any thread.
#pragma once

#include <atomic>
#include <string>

#include "platform/ManualResetEvent.h"

class QXThreadEvent : public plat::ManualResetEvent {
public:
    // Manual reset, not signalled, enabled, not owned by a thread.
    explicit QXThreadEvent(std::string name);

    plat::WaitResult Wait(uint32_t timeoutMs = plat::kInfinite) override;

    bool IsEnabled() const { return m_Enabled.load(std::memory_order_acquire); }
    void SetEnabled(bool enabled) { m_Enabled.store(enabled, std::memory_order_release); }
    // Set for the stop event a QXThread creates for itself; such events are
    // left alone by StopAll/ExitAll, as the stop handshake depends on them.
    bool IsOwnedByThread() const { return m_OwnedByThread.load(std::memory_order_acquire); }
    void SetOwnedByThread(bool owned) { m_OwnedByThread.store(owned, std::memory_order_release); }

private:
    std::atomic<bool> m_Enabled{true};
    std::atomic<bool> m_OwnedByThread{false};
};
