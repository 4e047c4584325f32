// "varnholtctl start": registers the loader window, starts the gateway with
// "autostart <loader class> <loader name>" and waits for its WM_APP + 3.
// Runs on the main thread; results go to out, reasons for a failure to err.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varnholtctl {

struct StartOptions {
    std::string exe;                 // empty: VarnholtServerd beside varnholtctl
    std::vector<std::string> args;   // empty: autostart <class> <name>; else these, with
                                     // "{class}" and "{name}" replaced by the loader's
    double timeoutSeconds = 60;
};

class StartCommand {
public:
    static constexpr const char* kLoaderClass = "VarnholtLoader";

    StartCommand(StartOptions options, std::ostream& out, std::ostream& err)
        : m_Options(std::move(options)), m_Out(out), m_Err(err) {}

    // 0 when the gateway reported its start, 1 otherwise.
    int Run();

private:
    std::string ExecutablePath() const;
    std::vector<std::string> Arguments(const std::string& className, const std::string& windowName) const;
    int Fail(const std::string& why);

    StartOptions m_Options;
    std::ostream& m_Out;
    std::ostream& m_Err;
};

}  // namespace varnholtctl
