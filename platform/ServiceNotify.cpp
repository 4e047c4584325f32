#include "platform/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <atomic>
#include <cstdint>

#include "platform/Tick.h"

namespace plat::service {
namespace {

// The watchdog interval is fixed for the life of the process; read it once.
int ReadWatchdogPingIntervalMs() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return 0;
    const uint64_t halfMs = usec / 2000;
    return static_cast<int>(halfMs == 0 ? 1 : halfMs);
}

std::atomic<uint32_t> g_LastWatchdogPing{0};

}  // namespace

void NotifyReady() { sd_notify(0, "READY=1"); }

void NotifyStatus(const std::string& text) {
    // One line per message: the protocol separates assignments by newlines.
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    sd_notify(0, ("STATUS=" + line).c_str());
}

void NotifyStopping() { sd_notify(0, "STOPPING=1"); }

int WatchdogPingIntervalMs() {
    static const int interval = ReadWatchdogPingIntervalMs();
    return interval;
}

void PingWatchdogIfDue() {
    const int interval = WatchdogPingIntervalMs();
    if (interval == 0) return;
    const uint32_t now = plat::GetTickMs();
    uint32_t last = g_LastWatchdogPing.load(std::memory_order_relaxed);
    if (now - last < static_cast<uint32_t>(interval)) return;
    if (!g_LastWatchdogPing.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
    sd_notify(0, "WATCHDOG=1");
}

}  // namespace plat::service
