// "varnholtctl close": asks a running gateway to close with WM_COPYDATA
// dwData 101. With a loader name it waits, under the loader window the
// gateway was started with, for the WM_APP + 2 the gateway sends before it
// exits; without one it waits until the gateway's window is gone. Runs on
// the main thread; results go to out, reasons for a failure to err.
#pragma once

#include <ostream>
#include <string>

namespace varnholtctl {

struct CloseOptions {
    std::string className = "TfrmVarnholt";
    std::string windowName = "VarnholtServer";
    std::string loaderClass = "VarnholtLoader";
    std::string loaderName;  // empty: no loader window, wait for the gateway's window to go
    double timeoutSeconds = 30;
};

class CloseCommand {
public:
    static constexpr uint64_t kCloseRequest = 101;

    CloseCommand(CloseOptions options, std::ostream& out, std::ostream& err)
        : m_Options(std::move(options)), m_Out(out), m_Err(err) {}

    // 0 when the gateway confirmed (or, without a loader window, ended), 1 otherwise.
    int Run();

private:
    int Fail(const std::string& why);
    std::string GatewayText() const;

    CloseOptions m_Options;
    std::ostream& m_Out;
    std::ostream& m_Err;
};

}  // namespace varnholtctl
