#include "StartCommand.h"

#include <unistd.h>

#include "platform/ModuleLoader.h"
#include "platform/WindowMessage.h"
#include "tools/varnholtctl/GatewayProcess.h"
#include "tools/varnholtctl/LoaderWindow.h"
#include "tools/varnholtctl/Timeout.h"

namespace varnholtctl {
namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::string StartCommand::ExecutablePath() const {
    return m_Options.exe.empty() ? plat::ExecutableDir() + "VarnholtServerd" : m_Options.exe;
}

std::vector<std::string> StartCommand::Arguments(const std::string& className, const std::string& windowName) const {
    if (m_Options.args.empty()) return {"autostart", className, windowName};
    std::vector<std::string> args = m_Options.args;
    for (auto& arg : args) {
        ReplaceAll(arg, "{class}", className);
        ReplaceAll(arg, "{name}", windowName);
    }
    return args;
}

int StartCommand::Fail(const std::string& why) {
    m_Err << "varnholtctl start: " << why << "\n";
    return 1;
}

int StartCommand::Run() {
    const std::string windowName = std::string(kLoaderClass) + "-" + std::to_string(::getpid());
    std::string error;
    auto loader = LoaderWindow::Create(kLoaderClass, windowName, &error);
    if (!loader) return Fail(error);

    const std::string exe = ExecutablePath();
    auto gateway = GatewayProcess::Spawn(exe, Arguments(kLoaderClass, windowName), &error);
    if (!gateway) return Fail(error);

    const auto result = loader->WaitFor(plat::WM_APP + 3, TimeoutMs(m_Options.timeoutSeconds),
                                        [&] { return !gateway->HasExited(); });
    const std::string pid = std::to_string(gateway->Pid());
    switch (result) {
        case LoaderWindow::WaitResult::Arrived:
            m_Out << "gateway started (pid " << pid << "); loader window " << kLoaderClass << "/" << windowName
                  << "\n";
            return 0;
        case LoaderWindow::WaitResult::Abandoned:
            return Fail("the gateway (pid " + pid + ") " + gateway->HowItEnded() + " before it reported a start");
        case LoaderWindow::WaitResult::TimedOut:
            break;
    }
    return Fail("no start report from the gateway (pid " + pid + ") within " + FormatSeconds(m_Options.timeoutSeconds) +
                " s; it is still running");
}

}  // namespace varnholtctl
