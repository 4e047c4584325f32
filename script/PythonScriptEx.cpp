#include "script/PythonScriptEx.h"

#include <mutex>

#include "infra/Log.h"

namespace {

std::mutex g_EngineMutex;
// Deliberately not a static object: ending the interpreter during static
// destruction would race the log and threads still running.
CPythonScriptEx* g_Engine = nullptr;

}  // namespace

CPythonScriptEx::CPythonScriptEx() {
    EnableTrack(false);
    m_TrackIndex.Clear();
    m_TrackRecords.Clear();
    m_TrackList.clear();
}

CPythonScriptEx::~CPythonScriptEx() {
    m_TrackList.clear();
    m_TrackIndex.Clear();
    m_TrackRecords.Clear();
}

bool CPythonScriptEx::EnableTrack(bool on) {
    m_TrackList.clear();
    SetTraceCallback(on ? &CPythonScriptEx::CollectTrace : &CPythonScriptEx::LogTrace, this);
    m_TrackOn = on;
    GetLog()->LogInfo("CPythonScriptEx::EnableTrack(%d) OK", on ? 1 : 0);
    return on;
}

void CPythonScriptEx::CollectTrace(void* context, const char* text) {
    static_cast<CPythonScriptEx*>(context)->m_TrackList.emplace_back(text);
}

// A script's text may hold '%': it is the entry, never a format.
void CPythonScriptEx::LogTrace(void*, const char* text) { GetLog()->LogText(llInfo, text); }

CPythonScriptEx* GetPythonScript() {
    std::lock_guard lock(g_EngineMutex);
    if (g_Engine == nullptr) g_Engine = new CPythonScriptEx();
    return g_Engine;
}

void ReleasePythonScript() {
    std::lock_guard lock(g_EngineMutex);
    delete g_Engine;
    g_Engine = nullptr;
}
