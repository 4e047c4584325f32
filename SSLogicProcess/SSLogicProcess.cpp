#include "SSLogicProcess/SSLogicProcess.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>

#include "SSLogicProcess/ProcessMetrics.h"
#include "SSLogicProcess/ProcessStatusRequest.h"
#include "SSLogicProcess/StatusRecords.h"
#include "infra/Log.h"
#include "modules/SSNetCore/ISSNetCore.h"
#include "platform/ModuleFile.h"
#include "platform/ModuleLoader.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "script/PythonLock.h"
#include "script/PythonScriptEx.h"

// The script module made by SWIG from SSRefresh.i.
extern "C" PyObject* PyInit__IPY_SSLogicProcess();

namespace {

plat::ModuleHandle s_NetCoreModule = nullptr;
GetSSNetCoreFunc s_GetSSNetCore = nullptr;

CSSLogicProcess* s_Instance = nullptr;
// Guards s_Instance against its deletion while SSCommonLogic.dll sends
// through the thunk; the window thread takes it only to clear the pointer.
std::mutex s_InstanceLock;

// A request pass takes at most this many packets before it looks at the
// stop flag and the keep-alive again, so a flooding StatusServer cannot
// hold the thread in one pass for ever.
constexpr int kMaxPacketsPerPass = 1000;

}  // namespace

void LoadSSNetCore() {
    plat::ModuleHandle module = plat::LoadModule("SSNetCore.dll");
    if (module == nullptr) {
        GetLog()->LogWarn("Load  SSNetCore fail!");
        return;
    }
    auto entry = reinterpret_cast<GetSSNetCoreFunc>(plat::ResolveSymbol(module, "GetSSNetCore"));
    if (entry == nullptr) {
        plat::UnloadModule(module);
        return;
    }
    s_NetCoreModule = module;
    s_GetSSNetCore = entry;
    GetLog()->LogInfo("Load  SSNetCore successfully!");
}

void UnloadSSNetCore() {
    if (s_NetCoreModule == nullptr) return;
    s_GetSSNetCore = nullptr;
    plat::UnloadModule(s_NetCoreModule);
    s_NetCoreModule = nullptr;
}

bool IsSSNetCoreLoaded() { return s_GetSSNetCore != nullptr && s_NetCoreModule != nullptr; }

ISSNetCore* GetSSNetCore() { return IsSSNetCoreLoaded() ? s_GetSSNetCore() : nullptr; }

class CSSLogicProcess::RequestThread : public plat::Thread {
public:
    explicit RequestThread(CSSLogicProcess* owner) : m_Owner(owner) {}
    ~RequestThread() override { TerminateAndJoin(); }

protected:
    void Execute() override {
        plat::SetCurrentThreadName("ThreadProcessSSRequest");
        ThreadProcessSSRequest(m_Owner);
    }

private:
    CSSLogicProcess* m_Owner;
};

CSSLogicProcess* CSSLogicProcess::GetInstance() {
    if (s_Instance == nullptr && IsSSNetCoreLoaded()) {
        std::lock_guard<std::mutex> lock(s_InstanceLock);
        s_Instance = new CSSLogicProcess();
    }
    return s_Instance;
}

bool CSSLogicProcess::HasInstance() { return s_Instance != nullptr; }

CSSLogicProcess::CSSLogicProcess()
    : m_LastKeepAliveTick(plat::GetTickMs()), m_RequestHandler(std::make_unique<CProcessStatusRequest>(this)) {}

CSSLogicProcess::~CSSLogicProcess() {
    // A thread that was never stopped still holds a pointer to this object.
    if (m_Thread != nullptr) {
        SetStopFlag(true);
        m_Sleep.Wake();
        m_Thread->Resume();
        m_Thread.reset();
    }
}

int CSSLogicProcess::Start(bool scriptMode) {
    m_ScriptMode = scriptMode;
    if (scriptMode) GetPythonScript()->RegisterBuiltinModule("_IPY_SSLogicProcess", &PyInit__IPY_SSLogicProcess);
    // The thread object starts its thread on the first Resume (Run), so it
    // exists here suspended, as the link expects.
    m_Thread = std::make_unique<RequestThread>(this);
    ISSNetCore* core = GetSSNetCore();
    return core != nullptr ? core->Start() : 0;
}

bool CSSLogicProcess::Connect(const char* ip, int port) {
    m_StatusServerIP = ip != nullptr ? ip : "";
    m_StatusServerPort = port;
    ISSNetCore* core = GetSSNetCore();
    return core != nullptr && core->Connect(ip, port);
}

int CSSLogicProcess::Run() {
    if (m_Thread == nullptr) return 0;
    SetStopFlag(false);
    try {
        m_Thread->Resume();
    } catch (const std::system_error& error) {
        SetStopFlag(true);
        m_Thread.reset();
        GetLog()->LogFatal("Thread:ThreadProcessSSRequest Creation Failed GetLastError() = %d", error.code().value());
        return 0;
    }
    ISSNetCore* core = GetSSNetCore();
    return core != nullptr ? core->Run() : 0;
}

int CSSLogicProcess::Stop() {
    if (m_Thread == nullptr) return 0;
    // Resumed as well, so that a thread that never ran starts, sees the flag and ends.
    SetStopFlag(true);
    m_Sleep.Wake();
    m_Thread->Resume();
    GetLog()->LogWarn("Begin wait SSProcess thread end");
    m_Thread->WaitFor();
    GetLog()->LogWarn("exit wait  SSProcess thread end");
    m_Thread.reset();
    if (ISSNetCore* core = GetSSNetCore()) core->Stop();
    return 1;
}

bool CSSLogicProcess::SetStopFlag(bool stop) {
    m_StopFlag.store(stop, std::memory_order_release);
    return stop;
}

void CSSLogicProcess::SendLogin() {
    ISSNetCore* core = GetSSNetCore();
    if (core == nullptr) return;
    const std::string head = status::EncodeHead(status::StatusHead());
    const std::string record = status::EncodeServerLogin(m_ServerName);
    core->Send(head.data(), static_cast<int>(head.size()), record.data(), static_cast<int>(record.size()));
}

void CSSLogicProcess::SetServerInfo(const char* name, int serverType, int serverIndex) {
    if (name == nullptr) return;
    std::memset(m_ServerName, 0, sizeof(m_ServerName));
    std::strncpy(m_ServerName, name, kServerNameSize - 1);
    m_ServerType = serverType;
    m_ServerIndex = serverIndex;
}

int CSSLogicProcess::SetServerIndex(int serverIndex) {
    m_ServerIndex = serverIndex;
    return m_ServerIndex;
}

int CSSLogicProcess::SendPack(const char* head, int headLength, const char* szContent, int nLen) {
    if (head == nullptr || headLength <= 0 || szContent == nullptr || nLen <= 0) {
        GetLog()->LogError("SendPack:szContent == NULL || nLen == 0");
        return 0;
    }
    ISSNetCore* core = GetSSNetCore();
    return core != nullptr ? core->Send(head, headLength, szContent, nLen) : 0;
}

int CSSLogicProcess::SendPackThunk(void* context, const char* head, int headLength, const char* content,
                                   int contentLength) {
    std::lock_guard<std::mutex> lock(s_InstanceLock);
    if (context == nullptr || context != s_Instance) return 0;
    return s_Instance->SendPack(head, headLength, content, contentLength);
}

bool CSSLogicProcess::ProcessScriptQueue() {
    if (!m_ScriptMode) return false;
    bool processed = false;
    MMORPG::MMORPGPacket_Stack packet;
    while (GetScriptQueueSize() != 0) {
        if (m_ScriptQueue.PacketPop(&packet) == 0) break;
        processed = true;
        CallScript(packet);
    }
    return processed;
}

void CSSLogicProcess::CallScript(MMORPG::MMORPGPacket& packet) {
    const std::string frame = packet.GetSendData();
    CPythonScriptEx* engine = GetPythonScript();
    PythonLock lock;
    // The script gets the whole frame as bytes: a str could not carry it.
    PyObject* args = Py_BuildValue("(y#)", frame.data(), static_cast<Py_ssize_t>(frame.size()));
    PyObject* result = engine->CallFunctionTakingArgs(kScriptFile, kScriptFunction, args);
    if (result == nullptr) {
        GetLog()->LogPyErr("Call python function %s, in py file %s fail", kScriptFunction, kScriptFile);
        return;
    }
    Py_DECREF(result);
}

bool CSSLogicProcess::PopScriptPacket(MMORPG::MMORPGPacket* packet) {
    if (!m_ScriptMode) return false;
    return m_ScriptQueue.PacketPop(packet) != 0;
}

int CSSLogicProcess::GetScriptQueueSize() { return m_ScriptMode ? m_ScriptQueue.Count() : 0; }

void CSSLogicProcess::SetRequestHandler(StatusRequestHandler handler, void* context) {
    m_RequestHandler->SetRequestHandler(handler, context);
}

void CSSLogicProcess::SetRequestFunction(StatusRequestFunction function) {
    m_RequestHandler->SetRequestFunction(function);
}

void CSSLogicProcess::Release() {
    // The request thread fetches the link core on every pass: it has to be
    // gone before the core is released, or it would make a new one.
    if (m_Thread != nullptr) Stop();
    if (ISSNetCore* core = GetSSNetCore()) {
        core->Stop();
        core->Release();
    }
    {
        std::lock_guard<std::mutex> lock(s_InstanceLock);
        if (s_Instance == this) s_Instance = nullptr;
    }
    delete this;
}

void CSSLogicProcess::ThreadProcessSSRequest(CSSLogicProcess* self) {
    GetLog()->LogInfo("ThreadProcessSSRequest start!");
    try {
        while (!self->IsStopped()) {
            const uint32_t waitMs = self->RequestPass();
            if (waitMs > 0) self->m_Sleep.SleepFor(waitMs);
        }
    } catch (...) {
        GetLog()->LogFatal("ThreadProcessSSRequest catch a exception!");
    }
    GetLog()->LogWarn("ThreadProcessSSRequest exit");
}

uint32_t CSSLogicProcess::RequestPass() {
    ISSNetCore* core = GetSSNetCore();
    if (core == nullptr || !core->IsConnected()) return kDisconnectedWaitMs;
    if (core->IsReconnected()) {
        SendLogin();
        core->ClearReconnected();
    }
    SendKeepAliveIfDue(core);
    SampleProcessMetrics();
    if (core->GetRecvCount() == 0) return kIdleWaitMs;
    ReceiveAll(core);
    // Requests that no handler took wait for the script; drained here, on
    // the thread that owns the interpreter's calls, after every receive pass.
    ProcessScriptQueue();
    return 0;
}

void CSSLogicProcess::SendKeepAliveIfDue(ISSNetCore* core) {
    const uint32_t now = plat::GetTickMs();
    if (now - m_LastKeepAliveTick < kKeepAliveIntervalMs) return;
    m_LastKeepAliveTick = now;
    const std::string head = status::EncodeHead(status::StatusHead());
    const std::string record = status::EncodeKeepAlive();
    core->Send(head.data(), static_cast<int>(head.size()), record.data(), static_cast<int>(record.size()));
}

void CSSLogicProcess::ReceiveAll(ISSNetCore* core) {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    if (packet == nullptr) return;
    for (int taken = 0; taken < kMaxPacketsPerPass && core->GetRecvCount() > 0; ++taken) {
        if (!core->Receive(packet)) continue;
        if (m_RequestHandler->HandleRequest(packet)) continue;
        if (!m_ScriptMode) continue;  // dropped; the packet is reused
        m_ScriptQueue.Push(packet);
        packet = AllocPacket();
        if (packet == nullptr) return;
    }
    FreePacket(packet);
}
