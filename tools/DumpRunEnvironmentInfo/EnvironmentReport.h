// The description of the host and the installation that goes into
// EnvInfo.log, and the verdict whether the installation can run: it can when
// the executable and every module expected beside it are there. Reads the
// system's files; single-threaded.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace envinfo {

// The modules the gateway loads from its own folder.
inline const std::vector<std::string> kExpectedModules = {
    "libLognest.so",      "libQXNetService.so",   "libnqBlockClient.so", "libVexConfig.so",
    "libLaunchServerDLL.so", "libOrvalisCollector.so", "libSSNetCore.so",     "libSSCommonLogic.so",
};

// Writes the whole description; returns the reasons the installation cannot
// run (empty when it can).
std::vector<std::string> WriteEnvironmentReport(std::ostream& out, const std::string& executablePath);

}  // namespace envinfo
