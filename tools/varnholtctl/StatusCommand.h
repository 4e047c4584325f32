// "varnholtctl status": asks the gateway's admin listener on 127.0.0.1 for
// /healthz and /metrics and prints them for a person: the health line, then
// a table per peer kind and the remaining figures. The port comes from
// --port, else from edtAdminPort of the gateway's settings file. Main
// thread; the report goes to out, reasons for a failure to err.
#pragma once

#include <ostream>
#include <string>

namespace varnholtctl {

struct StatusOptions {
    int port = 0;             // 0: edtAdminPort of the settings file
    std::string settings;     // empty: Config/Config.ini below the data root
    double timeoutSeconds = 5;
};

class StatusCommand {
public:
    static constexpr int kHealthy = 0;
    static constexpr int kUnhealthy = 1;
    static constexpr int kUnreachable = 2;

    StatusCommand(StatusOptions options, std::ostream& out, std::ostream& err)
        : m_Options(std::move(options)), m_Out(out), m_Err(err) {}

    int Run();

private:
    // The port to ask, or 0 after a reason on err.
    int ResolvePort();
    void PrintFigures(const std::string& metricsPage);

    StatusOptions m_Options;
    std::ostream& m_Out;
    std::ostream& m_Err;
};

}  // namespace varnholtctl
