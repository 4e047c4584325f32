#include "CloseCommand.h"

#include <chrono>
#include <thread>

#include "platform/WindowMessage.h"
#include "platform/WindowPost.h"
#include "tools/varnholtctl/LoaderWindow.h"
#include "tools/varnholtctl/Timeout.h"

namespace varnholtctl {
namespace {

// Without a loader window nothing wakes the wait, so the gateway's window is
// looked for at this pace.
constexpr auto kGonePollInterval = std::chrono::milliseconds(100);

bool WaitUntilGone(const plat::WindowHandle& gateway, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (plat::IsWindow(gateway)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kGonePollInterval);
    }
    return true;
}

}  // namespace

std::string CloseCommand::GatewayText() const { return m_Options.className + "/" + m_Options.windowName; }

int CloseCommand::Fail(const std::string& why) {
    m_Err << "varnholtctl close: " << why << "\n";
    return 1;
}

int CloseCommand::Run() {
    const auto gateway = plat::FindWindow(m_Options.className, m_Options.windowName);
    if (!gateway) return Fail("no gateway window " + GatewayText() + " on this host");

    // The window must exist before the request goes, or the confirmation
    // could come before anyone listens for it.
    std::unique_ptr<LoaderWindow> loader;
    if (!m_Options.loaderName.empty()) {
        std::string error;
        loader = LoaderWindow::Create(m_Options.loaderClass, m_Options.loaderName, &error);
        if (!loader) return Fail(error);
    }
    if (!plat::SendCopyData(*gateway, kCloseRequest, nullptr, 0)) {
        return Fail("the close request did not reach " + GatewayText());
    }

    const uint32_t timeoutMs = TimeoutMs(m_Options.timeoutSeconds);
    const std::string timeoutText = FormatSeconds(m_Options.timeoutSeconds);
    if (!loader) {
        if (!WaitUntilGone(*gateway, timeoutMs)) {
            return Fail("the gateway " + GatewayText() + " is still there after " + timeoutText + " s");
        }
        m_Out << "gateway " << GatewayText() << " closed\n";
        return 0;
    }
    switch (loader->WaitFor(plat::WM_APP + 2, timeoutMs, [&] { return plat::IsWindow(*gateway); })) {
        case LoaderWindow::WaitResult::Arrived:
            m_Out << "gateway " << GatewayText() << " confirmed the close\n";
            return 0;
        case LoaderWindow::WaitResult::Abandoned:
            return Fail("the gateway " + GatewayText() + " went away without confirming the close to " +
                        m_Options.loaderClass + "/" + m_Options.loaderName);
        case LoaderWindow::WaitResult::TimedOut:
            break;
    }
    return Fail("no close confirmation from " + GatewayText() + " within " + timeoutText + " s");
}

}  // namespace varnholtctl
