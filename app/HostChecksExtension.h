// The host's checks in the main window's creation: the marker-file flag for
// the log first, then the two companion check programs (the environment dump
// and the file check, each run to its end), and last the DEP and uptime
// checks, whose failure ends the creation. Holds no state; steps run on the
// window thread.
#pragma once

class StartupExtensions;

class HostChecksExtension {
public:
    // The log folder the environment dump writes EnvInfo.log beside.
    static constexpr const char* kLogDirectory = "D:\\ServerLog\\";

    void Register(StartupExtensions& extensions);

private:
    static bool MarkLog();
    static bool RunCompanionChecks();
    static bool CheckHost();
};
