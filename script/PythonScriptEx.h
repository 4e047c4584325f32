// CPythonScriptEx: the engine the process creates (GetPythonScript). Adds the
// tracking switch: trace lines go into the track list when tracking is on,
// into the log when it is off. Owns its track records; the index only points
// at them. Same thread rules as CPythonScript.
#pragma once

#include <string>
#include <vector>

#include "infra/AIndexListPro.h"
#include "infra/AList.h"
#include "script/PyTrackInfo.h"
#include "script/PythonScript.h"

class CPythonScriptEx : public CPythonScript {
public:
    CPythonScriptEx();
    ~CPythonScriptEx() override;

    // Empties the track list and routes later trace lines; returns `on`.
    bool EnableTrack(bool on);
    bool IsTrackOn() const { return m_TrackOn; }
    const std::vector<std::string>& GetTrackList() const { return m_TrackList; }

private:
    static void CollectTrace(void* context, const char* text);
    static void LogTrace(void* context, const char* text);

    AList<tagPyTrackInfo> m_TrackRecords{true, 10};
    AIndexListPro<std::string, tagPyTrackInfo> m_TrackIndex{false};
    std::vector<std::string> m_TrackList;
    bool m_TrackOn = false;
};

// The process's one engine, created on first use (interpreter started, lock
// released). Safe to call from any thread.
CPythonScriptEx* GetPythonScript();
// Ends the engine and the interpreter at process end, on the thread that
// created it. The interpreter cannot be started again safely afterwards.
void ReleasePythonScript();
