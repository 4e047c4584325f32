// The service manager's readiness protocol (systemd's sd_notify): the
// process says when it is ready, what its status text is, when it begins to
// stop, and keeps the watchdog fed while its relay moves. Without
// NOTIFY_SOCKET in the environment every call does nothing, so a desktop
// start or a test run is unaffected. Callable from any thread.
#pragma once

#include <string>

namespace plat::service {

void NotifyReady();
void NotifyStatus(const std::string& text);
void NotifyStopping();
// Sends WATCHDOG=1 when half of the manager's watchdog interval has passed
// since the last one; a tick read and a compare otherwise.
void PingWatchdogIfDue();
// How often PingWatchdogIfDue must run to keep the watchdog fed: half the
// interval in milliseconds, 0 when no watchdog is set.
int WatchdogPingIntervalMs();

}  // namespace plat::service
