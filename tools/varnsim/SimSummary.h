// Counters of a simulator run and the summary printed at its end: one text
// line for people, or one JSON object (flat, numbers only besides "role")
// that tests and benchmarks parse. Plain data; formatting does no I/O.
#pragma once

#include <cstdint>
#include <string>

class LatencyStats;

namespace varnsim {

// What a game, login or route sim saw on one connection (or, summed, on all).
struct PeerCounters {
    uint64_t sent = 0;
    uint64_t received = 0;    // packets that are neither keep-alives nor broadcasts
    uint64_t replies = 0;     // received packets matched to one this sim sent
    uint64_t unmatched = 0;   // expected a reply, but it matched nothing in flight
    uint64_t corrupt = 0;     // matched, but payload length or filler differ
    uint64_t outOfOrder = 0;  // matched with a lower sequence than an earlier reply
    uint64_t keepalives = 0;
    uint64_t broadcasts = 0;  // link-down notices included
    uint64_t linkDowns = 0;   // broadcasts with an empty payload
    uint64_t malformed = 0;   // frame bodies shorter than a header
    uint64_t badFrames = 0;   // streams the framer refused (connection closed)
    uint64_t bytesSent = 0;   // wire bytes, frame heads included
    uint64_t bytesReceived = 0;

    void Add(const PeerCounters& other);
};

struct PeerSummary {
    std::string role;
    uint32_t connections = 0;
    PeerCounters counters;
    uint64_t missing = 0;  // replies that never came, and packets never sent of a --count
    uint32_t maxInFlight = 0;
    double elapsedSeconds = 0;  // first send to last reply (or last send without replies)
    uint64_t p50 = 0, p99 = 0, p999 = 0, maxLatency = 0;
    double meanLatency = 0;

    void TakeLatency(const LatencyStats& latency);
    double RoundTripsPerSecond() const;
    double SentPerSecond() const;
    double ReceivedMBPerSecond() const;
    double SentMBPerSecond() const;
};

std::string FormatText(const PeerSummary& summary);
std::string FormatJson(const PeerSummary& summary);

struct DataServerCounters {
    uint64_t connections = 0;  // accepted so far
    uint64_t open = 0;
    uint64_t received = 0;     // every packet, keep-alives and broadcasts included
    uint64_t answered = 0;
    uint64_t keepalives = 0;
    uint64_t broadcasts = 0;   // link-down notices included
    uint64_t linkDowns = 0;
    uint64_t malformed = 0;
    uint64_t badFrames = 0;
    uint64_t maxUnanswered = 0;  // most answer-seeking packets one connection left unanswered
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
};

std::string FormatText(const DataServerCounters& counters);
std::string FormatJson(const DataServerCounters& counters);

}  // namespace varnsim
