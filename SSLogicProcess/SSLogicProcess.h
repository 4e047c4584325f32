// CSSLogicProcess: the gateway's link to the StatusServer. It wraps the
// ISSNetCore object of SSNetCore.dll (fetched anew for every use, never
// kept), owns the request thread ThreadProcessSSRequest, the request
// handler chain and the queue of packets left for the script handler, and
// SendPack, the one send path of every reply.
//
// The whole link is optional: while SSNetCore.dll or its export is missing,
// IsSSNetCoreLoaded() is false and no object exists. The singleton is made
// and released on the window thread. The request thread runs the receive
// loop, the keep-alive, the re-login, every request handler and the script
// queue; SendPack may be called from any thread (scripts, SSCommonLogic.dll).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "SSLogicProcess/ISSLogicProcess.h"
#include "ShareDefine/CThreadQueue.h"
#include "platform/WakeableSleep.h"

class CProcessStatusRequest;
class ISSNetCore;

namespace plat {
class Thread;
}

// SSNetCore.dll beside the executable: load it and resolve GetSSNetCore
// (window creation), free it (window destruction), ask whether both are there.
void LoadSSNetCore();
void UnloadSSNetCore();
bool IsSSNetCoreLoaded();
// The link core object, or null while the module is not loaded.
ISSNetCore* GetSSNetCore();

class CSSLogicProcess final : public ISSLogicProcess {
public:
    static constexpr uint32_t kKeepAliveIntervalMs = 60000;
    static constexpr uint32_t kDisconnectedWaitMs = 500;
    static constexpr uint32_t kIdleWaitMs = 2;
    static constexpr int kServerNameSize = 60;
    static constexpr const char* kScriptFile = "ProcessServerStatus.py";
    static constexpr const char* kScriptFunction = "ServerStatusOnCommand";

    // The singleton; created on the first call while the module is loaded,
    // null while it is not.
    static CSSLogicProcess* GetInstance();
    // Whether the singleton exists, without making one.
    static bool HasInstance();

    int Start(bool scriptMode) override;
    bool Connect(const char* ip, int port) override;
    int Run() override;
    int Stop() override;
    bool IsRunning() override { return !IsStopped(); }
    void SendLogin() override;
    void SetServerInfo(const char* name, int serverType, int serverIndex) override;
    int GetServerType() override { return m_ServerType; }
    int GetServerIndex() override { return m_ServerIndex; }
    int SetServerIndex(int serverIndex) override;
    int SendPack(const char* head, int headLength, const char* szContent, int nLen) override;
    bool ProcessScriptQueue() override;
    bool PopScriptPacket(MMORPG::MMORPGPacket* packet) override;
    int GetScriptQueueSize() override;
    void SetRequestHandler(StatusRequestHandler handler, void* context) override;
    void SetRequestFunction(StatusRequestFunction function) override;
    // Stops the link core, releases it and deletes the singleton.
    void Release() override;
    bool SetStopFlag(bool stop);
    bool IsStopped() const { return m_StopFlag.load(std::memory_order_acquire); }

    // The send function handed to SSCommonLogic.dll, with the singleton as
    // context. A context that is no longer the live singleton (the library
    // kept it past Release) sends nothing and returns 0.
    static int SendPackThunk(void* context, const char* head, int headLength, const char* content, int contentLength);

    // One pass of the request thread's loop; returns how long to wait before
    // the next (public so tests can drive the loop step by step).
    uint32_t RequestPass();

    const std::string& GetStatusServerIP() const { return m_StatusServerIP; }
    int GetStatusServerPort() const { return m_StatusServerPort; }
    const char* GetServerName() const { return m_ServerName; }

private:
    class RequestThread;

    CSSLogicProcess();
    ~CSSLogicProcess();
    CSSLogicProcess(const CSSLogicProcess&) = delete;
    CSSLogicProcess& operator=(const CSSLogicProcess&) = delete;

    static void ThreadProcessSSRequest(CSSLogicProcess* self);
    void SendKeepAliveIfDue(ISSNetCore* core);
    // Takes every waiting packet; what no handler uses goes to the script queue.
    void ReceiveAll(ISSNetCore* core);
    void CallScript(MMORPG::MMORPGPacket& packet);

    std::string m_StatusServerIP;
    int m_StatusServerPort = 0;
    uint32_t m_LastKeepAliveTick;
    CThreadQueue<MMORPG::MMORPGPacket> m_ScriptQueue;
    std::unique_ptr<CProcessStatusRequest> m_RequestHandler;
    bool m_ScriptMode = false;
    char m_ServerName[kServerNameSize] = {};
    int m_ServerType = 0;
    int m_ServerIndex = 0;
    std::atomic<bool> m_StopFlag{true};  // a new object counts as stopped
    std::unique_ptr<RequestThread> m_Thread;
    plat::WakeableSleep m_Sleep;  // the request thread's waits; Stop cuts them short
};
