#include "admin/AdminPages.h"

#include "admin/MetricsText.h"

namespace {

using Type = MetricsText::Type;

struct PeerRow {
    const char* peer;
    const PeerTraffic* traffic;
};

void WriteTraffic(MetricsText& out, const RelaySnapshot& s) {
    const PeerRow rows[] = {{s.services[0].name, &s.services[0].traffic},
                            {s.services[1].name, &s.services[1].traffic},
                            {s.services[2].name, &s.services[2].traffic},
                            {"dataserver", &s.dataServer}};
    out.Family("packets_total", Type::Counter,
               "Packets relayed with each peer kind: recv from it, send to it (keep-alives included).");
    for (const PeerRow& row : rows) {
        out.Sample({{"peer", row.peer}, {"direction", "recv"}}, row.traffic->packetsIn);
        out.Sample({{"peer", row.peer}, {"direction", "send"}}, row.traffic->packetsOut);
    }
    out.Family("bytes_total", Type::Counter,
               "Bytes of the packets relayed with each peer kind (9-byte header and payload, not the frame prefix).");
    for (const PeerRow& row : rows) {
        out.Sample({{"peer", row.peer}, {"direction", "recv"}}, row.traffic->bytesIn);
        out.Sample({{"peer", row.peer}, {"direction", "send"}}, row.traffic->bytesOut);
    }
}

void WriteQueues(MetricsText& out, const RelaySnapshot& s) {
    out.Family("queue_length", Type::Gauge, "Packets waiting in the relay's queues.");
    out.Sample({{"queue", "core_recv"}}, s.recvQueue);
    for (const ServiceFigures& service : s.services) {
        const std::string name = std::string(service.name) + "_dispatch";
        out.Sample({{"queue", name}}, service.dispatchQueue);
    }
    out.Sample({{"queue", "dataserver_send"}}, s.linkSendQueue);
    out.Family("packet_pool_in_use", Type::Gauge, "Packets handed out by the packet pool.");
    out.Sample({}, s.poolInUse);
    out.Family("packet_pool_peak", Type::Gauge, "Most packets handed out at once.");
    out.Sample({}, s.poolPeak);
}

void WritePeers(MetricsText& out, const RelaySnapshot& s) {
    out.Family("online_peers", Type::Gauge, "Connected peers per listening service.");
    for (const ServiceFigures& service : s.services) out.Sample({{"kind", service.name}}, service.online);
    out.Family("connections_cut_total", Type::Counter,
               "Connections the network service closed or refused, by limit (statistics 22 to 25).");
    for (const ServiceFigures& service : s.services) {
        for (int k = 0; k < kCutReasonCount; ++k) {
            out.Sample({{"service", service.name}, {"reason", kCutReasonNames[k]}}, service.cuts[k]);
        }
    }
}

}  // namespace

HealthPage BuildHealthPage(const RelayHealth& health) {
    return {health.ok ? 200 : 503, health.reason + "\n"};
}

std::string BuildMetricsPage(const RelaySnapshot& s) {
    MetricsText out;
    out.Family("relay_running", Type::Gauge, "1 while the relay runs.");
    out.Sample({}, uint64_t{s.relayRunning ? 1u : 0u});
    WriteTraffic(out, s);
    WriteQueues(out, s);
    WritePeers(out, s);
    out.Family("dataserver_link_up", Type::Gauge, "1 while the DataServer link is connected.");
    out.Sample({}, uint64_t{s.linkUp ? 1u : 0u});
    out.Family("dataserver_reconnects_total", Type::Counter, "Connects of the DataServer link that ended a loss.");
    out.Sample({}, s.reconnects);
    out.Family("log_lines_total", Type::Counter, "Log lines written at Error and at Fatal level.");
    out.Sample({{"level", "error"}}, s.logErrors);
    out.Sample({{"level", "fatal"}}, s.logFatals);
    out.Family("process_cpu_seconds_total", Type::Counter, "User and system CPU time of the gateway process.");
    out.Sample({}, s.cpuSeconds);
    out.Family("process_resident_memory_bytes", Type::Gauge, "Resident memory of the gateway process.");
    out.Sample({}, s.residentBytes);
    return out.Text();
}
