#include "tools/varnholtctl/StatusCommand.h"

#include <httplib.h>

#include <cstdio>
#include <string_view>

#include "tools/varnholtctl/AdminPortSetting.h"
#include "tools/varnholtctl/MetricsSamples.h"

namespace varnholtctl {

namespace {

constexpr const char* kPeers[] = {"game", "login", "route", "dataserver"};
constexpr const char* kCutReasons[] = {"send_bounds", "refused_send_queue", "refused_recv_queue", "flood"};

std::string Series(const std::string& name, const std::string& labels = "") {
    return "varnholt_" + name + (labels.empty() ? "" : "{" + labels + "}");
}

std::string Count(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f", value);
    return text;
}

std::string Mebibytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

std::string Row(std::string_view first, const std::string (&cells)[6]) {
    char text[160];
    std::snprintf(text, sizeof(text), "%-11.*s%12s%12s%14s%14s%8s%10s\n", static_cast<int>(first.size()), first.data(),
                  cells[0].c_str(), cells[1].c_str(), cells[2].c_str(), cells[3].c_str(), cells[4].c_str(),
                  cells[5].c_str());
    return text;
}

}  // namespace

int StatusCommand::ResolvePort() {
    if (m_Options.port != 0) return m_Options.port;
    const std::string path = m_Options.settings.empty() ? AdminPortSetting::DefaultPath() : m_Options.settings;
    std::string error;
    const std::optional<int> port = AdminPortSetting::Read(path, error);
    if (!port) {
        m_Err << "varnholtctl status: " << error << "; pass --port\n";
        return 0;
    }
    if (*port <= 0 || *port > 65535) {
        m_Err << "varnholtctl status: " << AdminPortSetting::kKey << " is " << *port << " in " << path
              << ": the admin listener is off; set it to a port and restart the gateway, or pass --port\n";
        return 0;
    }
    return *port;
}

int StatusCommand::Run() {
    const int port = ResolvePort();
    if (port == 0) return kUnreachable;
    httplib::Client client("127.0.0.1", port);
    const auto timeout = std::chrono::duration<double>(m_Options.timeoutSeconds);
    client.set_connection_timeout(std::chrono::duration_cast<std::chrono::microseconds>(timeout));
    client.set_read_timeout(std::chrono::duration_cast<std::chrono::microseconds>(timeout));
    const httplib::Result health = client.Get("/healthz");
    httplib::Error error = health.error();
    std::string metricsPage;
    if (health) {
        const httplib::Result metrics = client.Get("/metrics");
        error = metrics.error();
        if (metrics && metrics->status == 200) metricsPage = metrics->body;
    }
    if (error != httplib::Error::Success) {
        m_Err << "varnholtctl status: cannot reach the admin listener on 127.0.0.1:" << port << " ("
              << httplib::to_string(error) << "); is the gateway running with " << AdminPortSetting::kKey << " = "
              << port << "?\n";
        return kUnreachable;
    }
    std::string reason = health->body;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    const bool healthy = health->status == 200;
    m_Out << "health: " << (healthy ? "ok" : "UNHEALTHY (" + reason + ")") << "   [127.0.0.1:" << port << "]\n\n";
    PrintFigures(metricsPage);
    return healthy ? kHealthy : kUnhealthy;
}

void StatusCommand::PrintFigures(const std::string& metricsPage) {
    const MetricsSamples samples = MetricsSamples::Parse(metricsPage);
    const auto value = [&](const std::string& name, const std::string& labels = "") {
        return samples.Value(Series(name, labels));
    };
    m_Out << Row("peer", {"pkts in", "pkts out", "bytes in", "bytes out", "online", "queue"});
    for (const std::string peer : kPeers) {
        const std::string traffic = "peer=\"" + peer + "\",direction=";
        const bool isLink = peer == "dataserver";
        const std::string online = isLink ? (value("dataserver_link_up") != 0 ? "up" : "down")
                                          : Count(value("online_peers", "kind=\"" + peer + "\""));
        const std::string queue = isLink ? Count(value("queue_length", "queue=\"dataserver_send\""))
                                         : Count(value("queue_length", "queue=\"" + peer + "_dispatch\""));
        m_Out << Row(peer, {Count(value("packets_total", traffic + "\"recv\"")),
                            Count(value("packets_total", traffic + "\"send\"")),
                            Count(value("bytes_total", traffic + "\"recv\"")),
                            Count(value("bytes_total", traffic + "\"send\"")), online, queue});
    }
    m_Out << "\n";
    const auto line = [&](const char* label, const std::string& text) {
        char head[24];
        std::snprintf(head, sizeof(head), "%-20s", label);
        m_Out << head << text << "\n";
    };
    line("core recv queue", Count(value("queue_length", "queue=\"core_recv\"")));
    line("packet pool", Count(value("packet_pool_in_use")) + " in use, peak " + Count(value("packet_pool_peak")));
    line("DataServer link", std::string(value("dataserver_link_up") != 0 ? "up" : "down") + ", " +
                                Count(value("dataserver_reconnects_total")) + " reconnects");
    std::string cuts;
    for (const std::string reason : kCutReasons) {
        double total = 0;
        for (const std::string service : {"game", "login", "route"}) {
            total += value("connections_cut_total", "service=\"" + service + "\",reason=\"" + reason + "\"");
        }
        cuts += (cuts.empty() ? "" : ", ") + reason + " " + Count(total);
    }
    line("connections cut", cuts);
    line("log lines", Count(value("log_lines_total", "level=\"error\"")) + " error, " +
                          Count(value("log_lines_total", "level=\"fatal\"")) + " fatal");
    char cpu[32];
    std::snprintf(cpu, sizeof(cpu), "%.2f s", value("process_cpu_seconds_total"));
    line("CPU", cpu);
    line("resident memory", Mebibytes(value("process_resident_memory_bytes")));
}

}  // namespace varnholtctl
