// The launch-control protocol shared by the LaunchServerDLL module (the
// server side, inside the gateway) and launcher tools (LaunchClient.h).
// Header-only, no state; safe on any thread.
//
// Endpoint: a Unix stream socket in the abstract namespace (no file on disk)
// named "varnholt-launch/<name>". <name> is the gateway's environment
// variable VARNHOLT_LAUNCH_NAME when set and not empty, otherwise
// "VarnholtServer"; every "{pid}" in it is replaced by the gateway's process
// id, so VARNHOLT_LAUNCH_NAME="Varnholt-{pid}" gives each instance its own
// endpoint. Only processes of the gateway's own user (or root) are served.
//
// Requests and answers are single lines of ASCII ending in '\n' (a '\r'
// before it is ignored), at most kMaxLineBytes each. A connection may carry
// several requests; each gets exactly one answer, in order:
//   "start"   -> "ok" when the gateway's start request accepted it (the start
//               has run by the time the answer comes), "refused" when the
//               gateway is already running or a start or stop is under way
//   "stop"    -> "ok" when the stop has run, "refused" when not running or a
//               start or stop is under way
//   "status"  -> "state=<state> last=<notice>", state one of init, ready,
//               starting, running, stopping, stopped; notice the last of
//               OnSelfReady, OnStartBegin, OnStartDone, OnStopBegin,
//               OnStopDone, or "none"
//   anything else -> "unknown"
// The gateway answers from its window thread every 500 ms, so an answer can
// take that long; a start answers only when the start has finished.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace launchproto {

inline constexpr const char* kNameVariable = "VARNHOLT_LAUNCH_NAME";
inline constexpr const char* kDefaultName = "VarnholtServer";
inline constexpr const char* kEndpointPrefix = "varnholt-launch/";
inline constexpr size_t kMaxLineBytes = 256;  // request or answer, '\n' included

inline constexpr const char* kRequestStart = "start";
inline constexpr const char* kRequestStop = "stop";
inline constexpr const char* kRequestStatus = "status";
inline constexpr const char* kAnswerOk = "ok";
inline constexpr const char* kAnswerRefused = "refused";
inline constexpr const char* kAnswerUnknown = "unknown";

// The endpoint name for an instance name, "{pid}" replaced by pid.
inline std::string EndpointName(const std::string& instanceName, long pid) {
    std::string name = instanceName.empty() ? std::string(kDefaultName) : instanceName;
    const std::string placeholder = "{pid}";
    const std::string pidText = std::to_string(pid);
    for (size_t at = name.find(placeholder); at != std::string::npos; at = name.find(placeholder, at)) {
        name.replace(at, placeholder.size(), pidText);
        at += pidText.size();
    }
    return kEndpointPrefix + name;
}

// The abstract address of an endpoint: a leading NUL, then the name, no
// terminator. False when the name does not fit.
inline bool FillAddress(const std::string& endpointName, sockaddr_un& address, socklen_t& length) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (endpointName.empty() || endpointName.size() + 1 > sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path + 1, endpointName.data(), endpointName.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + endpointName.size());
    return true;
}

}  // namespace launchproto
