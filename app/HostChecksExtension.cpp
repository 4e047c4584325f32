#include "app/HostChecksExtension.h"

#include "ShareDefine/ServerCommon.h"
#include "app/StartupExtensions.h"
#include "diag/EnvironmentCheck.h"
#include "infra/Log.h"

void HostChecksExtension::Register(StartupExtensions& extensions) {
    extensions.Add(ExtensionPoint::OnCreateEarly, &HostChecksExtension::MarkLog);
    extensions.Add(ExtensionPoint::OnCreateServices, &HostChecksExtension::RunCompanionChecks);
    extensions.Add(ExtensionPoint::OnCreateChecks, &HostChecksExtension::CheckHost);
}

bool HostChecksExtension::MarkLog() {
    GetLog()->SetMarkerFlag(MarkerFileExists());
    return true;
}

bool HostChecksExtension::RunCompanionChecks() {
    // Both end the process themselves when the installation cannot run.
    RunEnvironmentDump(kLogDirectory);
    RunResourceCheck("");
    return true;
}

bool HostChecksExtension::CheckHost() { return DEPCheck(); }
