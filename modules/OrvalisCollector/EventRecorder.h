// The collector's state behind its C functions: whether it is initialised,
// the application's identity and the folder of the day files. One object per
// module. Every operation takes the object's lock, so reports from several
// threads are written one whole line at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "modules/OrvalisCollector/EventJson.h"

class CEventRecorder {
public:
    int Init();
    void Cleanup();
    // 0 written, -1 not initialised, -2 the file could not be written.
    int Report(const orvalis::EventFields& fields);
    int Install(const char* folder);
    int SetParam(const char* appId, const char* secret);

    // The folder reports go to now, with a trailing '/' ("" before Init).
    std::string Folder();

private:
    // Reports carry wall-clock time: operators match them against other logs.
    static int64_t NowUnixMs();
    std::string ChooseFolder() const;  // requires m_Lock
    bool AppendLine(const std::string& path, const std::string& line);

    std::mutex m_Lock;
    bool m_Initialised = false;   // guarded by m_Lock
    std::string m_InstalledFolder;  // guarded by m_Lock; empty = default
    std::string m_Folder;           // guarded by m_Lock
    std::string m_AppId;            // guarded by m_Lock
    std::string m_Secret;           // guarded by m_Lock; never written anywhere
};
