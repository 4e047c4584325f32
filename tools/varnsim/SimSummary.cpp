#include "tools/varnsim/SimSummary.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "tools/varnsim/LatencyStats.h"

namespace varnsim {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

double PerSecond(double amount, double seconds) { return seconds > 0 ? amount / seconds : 0.0; }

}  // namespace

void PeerCounters::Add(const PeerCounters& other) {
    sent += other.sent;
    received += other.received;
    replies += other.replies;
    unmatched += other.unmatched;
    corrupt += other.corrupt;
    outOfOrder += other.outOfOrder;
    keepalives += other.keepalives;
    broadcasts += other.broadcasts;
    linkDowns += other.linkDowns;
    malformed += other.malformed;
    badFrames += other.badFrames;
    bytesSent += other.bytesSent;
    bytesReceived += other.bytesReceived;
}

void PeerSummary::TakeLatency(const LatencyStats& latency) {
    p50 = latency.Percentile(50);
    p99 = latency.Percentile(99);
    p999 = latency.Percentile(99.9);
    maxLatency = latency.Max();
    meanLatency = latency.Mean();
}

double PeerSummary::RoundTripsPerSecond() const {
    return PerSecond(static_cast<double>(counters.replies), elapsedSeconds);
}
double PeerSummary::SentPerSecond() const { return PerSecond(static_cast<double>(counters.sent), elapsedSeconds); }
double PeerSummary::ReceivedMBPerSecond() const {
    return PerSecond(static_cast<double>(counters.bytesReceived) / 1e6, elapsedSeconds);
}
double PeerSummary::SentMBPerSecond() const {
    return PerSecond(static_cast<double>(counters.bytesSent) / 1e6, elapsedSeconds);
}

std::string FormatText(const PeerSummary& s) {
    const PeerCounters& c = s.counters;
    return Format("%s: connections=%" PRIu32 " sent=%" PRIu64 " received=%" PRIu64 " replies=%" PRIu64
                  " missing=%" PRIu64 " keepalives=%" PRIu64 " broadcasts=%" PRIu64
                  " round_trips/s=%.0f MB/s=%.2f latency_us p50=%" PRIu64 " p99=%" PRIu64 " p99.9=%" PRIu64,
                  s.role.c_str(), s.connections, c.sent, c.received, c.replies, s.missing, c.keepalives, c.broadcasts,
                  s.RoundTripsPerSecond(), s.ReceivedMBPerSecond(), s.p50, s.p99, s.p999);
}

std::string FormatJson(const PeerSummary& s) {
    const PeerCounters& c = s.counters;
    return Format("{\"role\":\"%s\",\"connections\":%" PRIu32 ",\"sent\":%" PRIu64 ",\"received\":%" PRIu64
                  ",\"replies\":%" PRIu64 ",\"missing\":%" PRIu64 ",\"unmatched\":%" PRIu64 ",\"corrupt\":%" PRIu64
                  ",\"out_of_order\":%" PRIu64 ",\"keepalives\":%" PRIu64 ",\"broadcasts\":%" PRIu64
                  ",\"link_downs\":%" PRIu64 ",\"malformed\":%" PRIu64 ",\"bad_frames\":%" PRIu64
                  ",\"max_in_flight\":%" PRIu32 ",\"bytes_sent\":%" PRIu64 ",\"bytes_received\":%" PRIu64
                  ",\"elapsed_s\":%.6f,\"round_trips_per_s\":%.1f,\"sent_per_s\":%.1f,\"mb_per_s\":%.3f"
                  ",\"tx_mb_per_s\":%.3f,\"p50_us\":%" PRIu64 ",\"p99_us\":%" PRIu64 ",\"p999_us\":%" PRIu64
                  ",\"max_us\":%" PRIu64 ",\"mean_us\":%.1f}",
                  s.role.c_str(), s.connections, c.sent, c.received, c.replies, s.missing, c.unmatched, c.corrupt,
                  c.outOfOrder, c.keepalives, c.broadcasts, c.linkDowns, c.malformed, c.badFrames, s.maxInFlight,
                  c.bytesSent, c.bytesReceived, s.elapsedSeconds, s.RoundTripsPerSecond(), s.SentPerSecond(),
                  s.ReceivedMBPerSecond(), s.SentMBPerSecond(), s.p50, s.p99, s.p999, s.maxLatency, s.meanLatency);
}

std::string FormatText(const DataServerCounters& c) {
    return Format("dataserver: connections=%" PRIu64 " received=%" PRIu64 " answered=%" PRIu64 " keepalives=%" PRIu64
                  " broadcasts=%" PRIu64 " link_downs=%" PRIu64,
                  c.connections, c.received, c.answered, c.keepalives, c.broadcasts, c.linkDowns);
}

std::string FormatJson(const DataServerCounters& c) {
    return Format("{\"role\":\"dataserver\",\"connections\":%" PRIu64 ",\"open\":%" PRIu64 ",\"received\":%" PRIu64
                  ",\"answered\":%" PRIu64 ",\"keepalives\":%" PRIu64 ",\"broadcasts\":%" PRIu64
                  ",\"link_downs\":%" PRIu64 ",\"malformed\":%" PRIu64 ",\"bad_frames\":%" PRIu64
                  ",\"max_unanswered\":%" PRIu64 ",\"bytes_received\":%" PRIu64 ",\"bytes_sent\":%" PRIu64 "}",
                  c.connections, c.open, c.received, c.answered, c.keepalives, c.broadcasts, c.linkDowns, c.malformed,
                  c.badFrames, c.maxUnanswered, c.bytesReceived, c.bytesSent);
}

}  // namespace varnsim
