// The module's two exports and the lifetime of the one log object. Only
// GetLog and Log_Free leave the library (see exports.map); everything else,
// spdlog included, stays private so nothing clashes with the program.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "modules/Lognest/LognestService.h"

namespace {

std::mutex g_LifetimeMutex;  // creation and destruction of the object
std::atomic<lognest::LognestService*> g_Log{nullptr};

// Normal process end without Log_Free: every queued entry still reaches the
// files. The object itself stays (threads may still log while the process
// ends; their entries are then written on their own threads).
struct ExitFlush {
    ~ExitFlush() {
        std::lock_guard lock(g_LifetimeMutex);
        if (lognest::LognestService* log = g_Log.load(std::memory_order_acquire)) log->Shutdown();
    }
} g_ExitFlush;

}  // namespace

extern "C" __attribute__((visibility("default"))) LogService* GetLog() {
    if (lognest::LognestService* log = g_Log.load(std::memory_order_acquire)) return log;
    std::lock_guard lock(g_LifetimeMutex);
    lognest::LognestService* log = g_Log.load(std::memory_order_relaxed);
    if (log == nullptr) {
        log = new lognest::LognestService();
        g_Log.store(log, std::memory_order_release);
    }
    return log;
}

extern "C" __attribute__((visibility("default"))) void Log_Free() {
    std::lock_guard lock(g_LifetimeMutex);
    lognest::LognestService* log = g_Log.load(std::memory_order_acquire);
    if (log == nullptr) return;
    if (!log->Shutdown()) {
        // From inside the hook the logging thread would have to join itself.
        std::fprintf(stderr, "Lognest: Log_Free called from the log hook, ignored\n");
        return;
    }
    g_Log.store(nullptr, std::memory_order_release);
    delete log;
}
