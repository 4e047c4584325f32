// RelayFigures: gathers the relay's figures for the admin listener from
// counters that are safe to read on any thread (atomics, and getters that
// hold a lock only for a read). The window thread makes it once the relay
// runs and marks the relay stopped before the core stops serving; the
// listener's thread calls Collect and Health. The core is not owned and has
// to outlive the object (the listener stops before the core is released).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

class CServerCore;
class INetProcess;

// Packets and bytes (header and payload) relayed with one peer kind.
struct PeerTraffic {
    uint64_t packetsIn = 0;
    uint64_t bytesIn = 0;
    uint64_t packetsOut = 0;
    uint64_t bytesOut = 0;
};

// The network service's statistics 22 to 25, in that order.
inline constexpr int kCutReasonCount = 4;
inline constexpr std::array<const char*, kCutReasonCount> kCutReasonNames = {
    "send_bounds", "refused_send_queue", "refused_recv_queue", "flood"};

struct ServiceFigures {
    const char* name = "";  // "game", "login", "route"
    PeerTraffic traffic;
    uint64_t dispatchQueue = 0;
    uint64_t online = 0;
    std::array<uint64_t, kCutReasonCount> cuts{};
};

struct RelaySnapshot {
    bool relayRunning = false;
    bool linkUp = false;
    std::array<ServiceFigures, 3> services;
    PeerTraffic dataServer;
    uint64_t linkSendQueue = 0;
    uint64_t reconnects = 0;
    uint64_t recvQueue = 0;
    uint64_t poolInUse = 0;
    uint64_t poolPeak = 0;
    uint64_t logErrors = 0;
    uint64_t logFatals = 0;
    double cpuSeconds = 0;
    uint64_t residentBytes = 0;
};

struct RelayHealth {
    bool ok = false;
    std::string reason;  // one line, "ok" when ok
};

class RelayFigures {
public:
    explicit RelayFigures(CServerCore& core) : m_Core(core) {}
    RelayFigures(const RelayFigures&) = delete;
    RelayFigures& operator=(const RelayFigures&) = delete;

    // Window thread: the relay runs from now on / is about to stop.
    void SetRelayRunning(bool running) { m_RelayRunning.store(running, std::memory_order_release); }

    // Any thread.
    RelaySnapshot Collect() const;
    RelayHealth Health() const;

private:
    bool RelayRunning() const;
    static ServiceFigures ServiceOf(const char* name, INetProcess& service);

    CServerCore& m_Core;
    std::atomic<bool> m_RelayRunning{false};
};
