// "varnholtctl launch start|stop|status": one request to a gateway's launch
// controller and its one-line answer. Runs on the main thread; the answer
// goes to out, reasons for a failure to err.
#pragma once

#include <ostream>
#include <string>

namespace varnholtctl {

struct LaunchOptions {
    std::string request;      // "start", "stop" or "status"
    std::string name;         // instance name; empty: $VARNHOLT_LAUNCH_NAME, else "VarnholtServer"
    long pid = 0;             // replaces "{pid}" in the name
    double timeoutSeconds = 30;
};

class LaunchCommand {
public:
    LaunchCommand(LaunchOptions options, std::ostream& out, std::ostream& err)
        : m_Options(std::move(options)), m_Out(out), m_Err(err) {}

    // 0 when the answer is "ok" or a state, 1 when refused or unreachable.
    int Run();

    // Whether an answer means the request was carried out (or, for
    // "status", answered with a state).
    static bool IsSuccess(const std::string& answer);

private:
    std::string InstanceName() const;

    LaunchOptions m_Options;
    std::ostream& m_Out;
    std::ostream& m_Err;
};

}  // namespace varnholtctl
