#include "LaunchCommand.h"

#include <cstdlib>

#include "modules/LaunchServerDLL/LaunchClient.h"
#include "modules/LaunchServerDLL/LaunchProtocol.h"
#include "tools/varnholtctl/Timeout.h"

namespace varnholtctl {

std::string LaunchCommand::InstanceName() const {
    if (!m_Options.name.empty()) return m_Options.name;
    const char* fromEnvironment = std::getenv(launchproto::kNameVariable);
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : launchproto::kDefaultName;
}

bool LaunchCommand::IsSuccess(const std::string& answer) {
    return answer == launchproto::kAnswerOk || answer.rfind("state=", 0) == 0;
}

int LaunchCommand::Run() {
    const std::string endpoint = launchproto::EndpointName(InstanceName(), m_Options.pid);
    std::string answer;
    std::string error;
    const int timeoutMs = static_cast<int>(TimeoutMs(m_Options.timeoutSeconds));
    if (!LaunchRequest(endpoint, m_Options.request, answer, timeoutMs, &error)) {
        m_Err << "varnholtctl launch " << m_Options.request << ": " << error << "\n";
        return 1;
    }
    m_Out << answer << "\n";
    return IsSuccess(answer) ? 0 : 1;
}

}  // namespace varnholtctl
