#include "app/MainForm.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/ServerCore.h"
#include "diag/PackRecorderManager.h"
#include "infra/CommonFunc.h"
#include "infra/ConfigFileProxy.h"
#include "infra/ErrorLogEventNotice.h"
#include "infra/LaunchServerDLLProxy.h"
#include "infra/Log.h"
#include "infra/ThreadManager.h"
#include "platform/ServiceNotify.h"
#include "platform/CrashReporter.h"
#include "platform/SingleInstanceGuard.h"
#include "platform/WindowMessage.h"
#include "platform/WindowPost.h"
#include "platform/Tick.h"
#include "ShareDefine/MMORPGPacketPool.h"

TfrmVarnholt* TfrmVarnholt::s_Instance = nullptr;

namespace {

// The settings file's keys after the two of the node file, in declaration
// order, with the values a fresh file receives.
struct IntKey {
    const char* key;
    int value;
};

constexpr int kUnlimited = 2000000000;

constexpr IntKey kPortKeys[] = {
    {"edtDataServerPort", 16899},   {"edtRouteServerPort", 19008}, {"edtRouteServerCount", 10},
    {"edtGameServerPort", 19003},   {"edtGameServerCount", 1},     {"edtLoginServerPort", 19007},
    {"edtLoginServerCount", 1},
};

// Per kind, the four network-service keys; their read fallbacks differ from
// the declared value.
struct LimitKey {
    const char* suffix;
    int paramId;
    int fallback;
};

constexpr LimitKey kLimitKeys[] = {
    {"MaxSendMsgQueueCount", 5, 100},
    {"RefuseConnectBySendQueue", 7, 50000},
    {"RefuseConnectByRecvQueue", 6, 10000},
    {"HackAttackValue", 8, 50},
};

// How long the relay's workers poll after work before they sleep (see the
// README for the figures behind the default).
constexpr int kDefaultWorkerSpinMicros = 500;
// The dispatch thread polls for less: its pass is the shortest of the
// relay's, and a long poll there held a CPU that the peers needed.
constexpr int kDefaultDispatchSpinMicros = 100;
constexpr int kMaxWorkerSpinMicros = 1000;

constexpr const char* kKinds[] = {"LoginServer", "RouteServer", "GameServer"};

std::string LocalDateTimeText() { return LocalTimeText("%Y-%m-%d %H:%M:%S"); }

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

struct TfrmVarnholt::StartSettings {
    int dataServerPort = 0;
    std::string dataServerIP;
    int gameServerCount = 0;
    int gameServerPort = 0;
    int routeServerCount = 0;
    int routeServerPort = 0;
    int loginServerCount = 0;
    int loginServerPort = 0;
    int adminPort = 0;
    int workerSpinMicros = 0;
    int dispatchSpinMicros = 0;
};

TfrmVarnholt::TfrmVarnholt(IMainView& view, LoaderMessageFunc sendToLoader)
    : m_View(view), m_SendToLoader(sendToLoader) {
    s_Instance = this;
    m_HostChecks.Register(m_Extensions);
    m_StatusLink.Register(m_Extensions);
    m_Admin.Register(m_Extensions);
}

TfrmVarnholt::~TfrmVarnholt() {
    if (s_Instance == this) s_Instance = nullptr;
}

bool TfrmVarnholt::FormCreate(const std::vector<std::string>& arguments) {
    m_View.SetRefreshTimer(false);
    if (arguments.size() == 1 && SameText(arguments[0], "-CheckEurekaActive")) {
        std::fflush(nullptr);
        ::_exit(plat::CrashReporter::IsActive() ? 0 : 1);
    }
    GetLog()->SetLogDirectory("D:\\ServerLog\\", "");
    GetLog()->SetNotifyWindow(this);
    if (!plat::CrashReporter::IsActive()) {
        m_View.ShowMessage("Error report", "EurekaLog not active!");
        m_View.RequestTerminate();
    }
    m_Extensions.Run(ExtensionPoint::OnCreateEarly);
    GetLog()->SetServerName("Varnholt");

    if (!OpenConfigFiles()) {
        std::fflush(nullptr);
        ::_exit(1);
    }
    DeclareSettings();
    SaveSettings();

    if (!RunInstanceGuard()) return false;
    InitLaunchControl();
    m_Extensions.Run(ExtensionPoint::OnCreateServices);

    CServerCore* core = GetServerCore();
    core->SetStageNotify(&TfrmVarnholt::OnStageText, this);
    m_Extensions.Run(ExtensionPoint::OnCreateViews);

    if (!m_Extensions.Run(ExtensionPoint::OnCreateChecks)) {
        // A host the checks refuse is a failed start, not a clean exit.
        m_ExitCode = 1;
        m_View.RequestTerminate();
        return false;
    }
    m_View.SetCaption("VarnholtServer");
    m_View.SetStartTimeLabel("", false);
    m_View.SetCloseWarnLabel("", false);
    ShowState(false);
    m_Extensions.Run(ExtensionPoint::OnCreateLink);
    HandleAutostart(arguments);
    m_View.SetRefreshTimer(true);
    if (!m_ShownRunning && !m_Stopped) m_View.SetStatusText("Wait Click Start...");
    CLaunchServerDLLProxy& launch = CLaunchServerDLLProxy::Instance();
    if (launch.IsInited()) {
        launch.GetLaunchControl()->OnSelfReady();
        GetLog()->LogDebug("GetLaunchControl()->OnSelfReady()");
    }
    return true;
}

bool TfrmVarnholt::OpenConfigFiles() {
    m_NodeFile = std::make_unique<CConfigFileProxy>();
    if (!m_NodeFile->IsValid()) return false;
    m_NodeFile->Open(kNodeFileName, kSection);
    m_NodeFile->WriteString("edtDataServerIP", "127.0.0.1");
    m_NodeFile->WriteString("edtMutexSign", "VarnholtServer");
    m_SettingsFile = std::make_unique<CConfigFileProxy>();
    return m_SettingsFile->IsValid();
}

void TfrmVarnholt::DeclareSettings() {
    CConfigFileProxy& settings = *m_SettingsFile;
    settings.Open(kSettingsPath, kSection);
    for (const IntKey& key : kPortKeys) settings.WriteInt(key.key, key.value);
    settings.WriteBool("chkRefreshGUI", true);
    settings.WriteBool("chkEnableWatch", false);
    for (const char* kind : kKinds) {
        for (const LimitKey& limit : kLimitKeys) {
            settings.WriteInt(std::string("edt") + kind + limit.suffix, kUnlimited);
        }
    }
    settings.WriteString("edtSSIP", "127.0.0.1");
    settings.WriteInt("edtSSPort", 21888);
    settings.WriteInt("edtAdminPort", 0);  // the admin listener is off unless asked for
    settings.WriteInt("edtWorkerSpinMicros", kDefaultWorkerSpinMicros);
    settings.WriteInt("edtDispatchSpinMicros", kDefaultDispatchSpinMicros);
}

void TfrmVarnholt::SaveSettings() {
    if (m_SettingsFile != nullptr) m_SettingsFile->Save();
    if (m_NodeFile != nullptr) m_NodeFile->Save();
}

bool TfrmVarnholt::RunInstanceGuard() {
    const std::string sign = m_NodeFile->ReadString("edtMutexSign", "");
    m_View.SetMutexSignText(sign);
    if (sign.empty()) return true;
    m_InstanceGuard = std::make_unique<plat::SingleInstanceGuard>();
    const plat::SingleInstanceGuard::Outcome outcome = m_InstanceGuard->Acquire("Global\\_" + sign);
    if (outcome != plat::SingleInstanceGuard::Outcome::OwnedByOther) return true;
    // Another instance with the same sign runs: show its window and end.
    if (auto owner = plat::FindWindowByProcess(m_InstanceGuard->OwnerPid())) {
        plat::PostMessage(*owner, plat::WM_SHOWINSTANCE, 0, 0);
    }
    GetLog()->LogWarn("Another instance (pid %d) runs with the sign %s; handing over to it",
                      static_cast<int>(m_InstanceGuard->OwnerPid()), sign.c_str());
    m_View.RequestTerminate();
    return false;
}

void TfrmVarnholt::InitLaunchControl() {
    if (CLaunchServerDLLProxy::Instance().Init(&TfrmVarnholt::LaunchStartRequest, &TfrmVarnholt::LaunchStopRequest)) {
        m_View.SetLaunchTimer(true);
    } else {
        GetLog()->LogWarn("LaunchDLL Init Fail!!");
    }
}

void TfrmVarnholt::HandleAutostart(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3 || !SameText(arguments[0], "autostart")) return;
    m_LoaderClassName = arguments[1];
    m_LoaderWindowName = arguments[2];
    StartStopClick();
}

void TfrmVarnholt::StartStopClick() {
    if (m_Starting || m_Stopped) return;
    if (CoreRunning()) {
        StopRelay();
    } else {
        StartRelay();
    }
}

bool TfrmVarnholt::CoreRunning() const { return GetServerCore()->IsRunning(); }

void TfrmVarnholt::StartRelay() {
    CLaunchServerDLLProxy& launch = CLaunchServerDLLProxy::Instance();
    if (launch.IsInited()) launch.GetLaunchControl()->OnStartBegin();
    m_StartEndedByStep = !m_Extensions.Run(ExtensionPoint::OnStartLink);
    if (m_StartEndedByStep) {
        // Nothing was started: the controller is ready for the next start.
        if (launch.IsInited()) launch.GetLaunchControl()->OnSelfReady();
        return;
    }

    m_Starting = true;
    CServerCore* core = GetServerCore();
    core->StartThreads();
    m_View.SetStartStopButton("Start", true, false);
    StartSettings settings;
    m_ConfigProblem.clear();
    if (!ApplyServiceLimits() || !ReadStartSettings(settings)) {
        // A malformed or impossible setting would fail every attempt the
        // same way: say which key, and do not retry.
        m_Starting = false;
        m_View.SetStatusText(m_ConfigProblem);
        GetLog()->LogError("%s", m_ConfigProblem.c_str());
        if (launch.IsInited()) launch.GetLaunchControl()->OnSelfReady();
        return;
    }
    while (!core->Start(settings.loginServerPort, settings.loginServerCount, settings.routeServerPort,
                        settings.routeServerCount, settings.gameServerPort, settings.gameServerCount,
                        settings.dataServerIP.c_str(), settings.dataServerPort)) {
        m_View.ProcessPendingMessages(kStartRetryPauseMs);
        if (m_ExitRequested) {
            m_Starting = false;
            return;
        }
        ReadStartSettings(settings);
    }
    m_Starting = false;
    m_Admin.SetPort(settings.adminPort);
    core->SetWorkerSpinMicros(static_cast<uint32_t>(settings.workerSpinMicros));
    core->SetDispatchSpinMicros(static_cast<uint32_t>(settings.dispatchSpinMicros));
    ShowState(true);
    m_Extensions.Run(ExtensionPoint::OnStartRun);
    ThreadManager::Instance().StartAll();
    m_View.SetRefreshTimer(true);
    GetLog()->LogRun("Starting Threads...OK!");
    GetLog()->LogRun("Server Start Success!");
    m_View.EchoLogLine("Server Start Success!");
    plat::service::NotifyReady();
    m_StartTick = plat::GetTickMs();
    m_StartTimeText = LocalDateTimeText();
    m_View.SetStartTimeLabel(m_StartTimeText, true);
    m_View.SetCloseWarnLabel("You Can Open TarnGameServer.exe", true);
    m_Extensions.Run(ExtensionPoint::OnStartViews);
    GetLog()->LogRun("::SendMessage, m_LoaderClassName = %s, m_LoaderWindownName = %s", m_LoaderClassName.c_str(),
                     m_LoaderWindowName.c_str());
    SendToLoader(WM_APP_STARTED);
    m_View.SetStatusLightRunning();
    if (launch.IsInited()) launch.GetLaunchControl()->OnStartDone();
    CErrorLogEventNotice::Instance().StartNotice("Varnholt");
}

bool TfrmVarnholt::ApplyServiceLimits() {
    CServerCore* core = GetServerCore();
    INetProcess* services[] = {core->GetLoginServerCore(), core->GetRouteServerCore(), core->GetGameServerCore()};
    for (size_t k = 0; k < 3; ++k) {
        for (const LimitKey& limit : kLimitKeys) {
            const std::string key = std::string("edt") + kKinds[k] + limit.suffix;
            int value = limit.fallback;
            if (!m_SettingsFile->ReadIntChecked(key, limit.fallback, value)) {
                m_ConfigProblem = "Bad setting " + key + " in " + kSettingsPath + ": not a number";
                return false;
            }
            services[k]->SetServiceParam(limit.paramId, value);
        }
        SaveSettings();
    }
    return true;
}

bool TfrmVarnholt::ReadBoundedSetting(const char* key, int fallback, int min, int max, const char* rangeText,
                                      int& value) {
    if (!m_SettingsFile->ReadIntChecked(key, fallback, value)) {
        m_ConfigProblem = std::string("Bad setting ") + key + " in " + kSettingsPath + ": not a number";
        return false;
    }
    if (value < min || value > max) {
        m_ConfigProblem =
            std::string("Bad setting ") + key + " in " + kSettingsPath + ": " + std::to_string(value) + " " + rangeText;
        return false;
    }
    return true;
}

bool TfrmVarnholt::ReadStartSettings(StartSettings& settings) {
    struct PortOrCount {
        const char* key;
        int* out;
        bool isPort;
    };
    const PortOrCount keys[] = {
        {"edtDataServerPort", &settings.dataServerPort, true},   {"edtGameServerCount", &settings.gameServerCount, false},
        {"edtGameServerPort", &settings.gameServerPort, true},   {"edtRouteServerCount", &settings.routeServerCount, false},
        {"edtRouteServerPort", &settings.routeServerPort, true}, {"edtLoginServerCount", &settings.loginServerCount, false},
        {"edtLoginServerPort", &settings.loginServerPort, true},
    };
    for (const PortOrCount& key : keys) {
        if (!m_SettingsFile->ReadIntChecked(key.key, 0, *key.out)) {
            m_ConfigProblem = std::string("Bad setting ") + key.key + " in " + kSettingsPath + ": not a number";
            return false;
        }
        if (key.isPort && (*key.out < 1 || *key.out > 65535)) {
            m_ConfigProblem = std::string("Bad setting ") + key.key + " in " + kSettingsPath + ": " +
                              std::to_string(*key.out) + " is not a port (1 to 65535)";
            return false;
        }
        if (!key.isPort && *key.out < 1) {
            m_ConfigProblem = std::string("Bad setting ") + key.key + " in " + kSettingsPath + ": " +
                              std::to_string(*key.out) + " is not a count (1 or more)";
            return false;
        }
    }
    if (!ReadBoundedSetting("edtAdminPort", 0, 0, 65535, "is not a port (0 to 65535; 0 leaves the admin listener off)",
                            settings.adminPort) ||
        !ReadBoundedSetting("edtWorkerSpinMicros", kDefaultWorkerSpinMicros, 0, kMaxWorkerSpinMicros,
                            "is not a spin time (0 to 1000 microseconds; 0 sleeps at once)", settings.workerSpinMicros) ||
        !ReadBoundedSetting("edtDispatchSpinMicros", kDefaultDispatchSpinMicros, 0, kMaxWorkerSpinMicros,
                            "is not a spin time (0 to 1000 microseconds; 0 sleeps at once)",
                            settings.dispatchSpinMicros)) {
        return false;
    }
    settings.dataServerIP = m_NodeFile->ReadString("edtDataServerIP", "");
    if (settings.dataServerIP.empty()) {
        m_ConfigProblem = std::string("Bad setting edtDataServerIP in ") + kNodeFileName + ": empty";
        return false;
    }
    return true;
}

void TfrmVarnholt::StopRelay() {
    CLaunchServerDLLProxy& launch = CLaunchServerDLLProxy::Instance();
    if (launch.IsInited()) launch.GetLaunchControl()->OnStopBegin();
    m_View.SetRefreshTimer(false);
    GetServerCore()->Stop();
    m_Extensions.Run(ExtensionPoint::OnStopLink);
    ShowState(false);
    ThreadManager::Instance().StopAll();
    ThreadManager::Instance().ExitAll();
    m_Extensions.Run(ExtensionPoint::OnStopRelease);
    m_View.SetStartTimeLabel("", false);
    m_View.SetCloseWarnLabel("You Can Close Me", true);
    PackRecorderManager::Instance().ClearAll(true);
    m_Stopped = true;
    m_View.SetStartStopButton("Start", true, false);
    if (launch.IsInited()) launch.GetLaunchControl()->OnStopDone();
    CErrorLogEventNotice::Instance().StopNotice();
}

void TfrmVarnholt::ShowState(bool running) {
    m_ShownRunning = running;
    m_View.SetStatusText(running ? "Running..." : "Disconnect");
    m_View.SetStartStopButton(CoreRunning() ? "Stop" : "Start", true, true);
}

bool TfrmVarnholt::CloseQuery() { return m_View.AskYesNo("Close Ask", "Close Sure?"); }

void TfrmVarnholt::FormClose() {
    plat::service::NotifyStopping();
    if (CoreRunning()) StopRelay();
    m_ExitRequested = true;
}

void TfrmVarnholt::ReopenLogFiles() {
    GetLog()->ReopenFiles();
    GetLog()->LogRun("Log files reopened");
}

void TfrmVarnholt::FormDestroy() {
    m_View.SetRefreshTimer(false);
    m_Extensions.Run(ExtensionPoint::OnDestroyViews);
    ReleaseServerCore();
    ReleasePacketPool();
    m_Extensions.Run(ExtensionPoint::OnDestroyLink);
    Log_Free();
    CLaunchServerDLLProxy::Instance().Release();
    m_InstanceGuard.reset();
}

bool TfrmVarnholt::WindowProc(const MainWindowMessage& message) {
    switch (message.id) {
        case WM_COPYDATA_ID:
            if (message.dwData == kCloseRequest) {
                if (CoreRunning()) StopRelay();
                SendToLoader(WM_APP_EXITING);
                GetLog()->LogNote("Close Program");
                GetLog()->Flush();
                std::fflush(nullptr);
                ::_exit(0);
            }
            return true;
        case WM_USER_STAGE:
            m_View.SetStatusText(message.copyData);
            return true;
        case plat::WM_SHOWINSTANCE:
            m_View.BringToFront();
            return true;
        case WM_QUERYENDSESSION_ID:
            if (m_ShownRunning) {
                GetLog()->LogWarn("WM_QUERYENDSESSION for the System Logoff,CurTime = %s", LocalDateTimeText().c_str());
                GetLog()->LogFatal("#Wrong Operation#The system should not logoff,while the server is running!!!");
            }
            return false;
        default:
            return false;
    }
}

void TfrmVarnholt::LaunchTimerTick() {
    CLaunchServerDLLProxy& launch = CLaunchServerDLLProxy::Instance();
    if (launch.IsInited()) {
        m_LaunchSeenInited = true;
        launch.GetLaunchControl()->Poll();
        LogLaunchRefusal(launch.GetLaunchControl()->GetLastError());
    } else if (m_LaunchSeenInited) {
        m_View.SetLaunchTimer(false);
    }
}

void TfrmVarnholt::LogLaunchRefusal(const char* lastError) {
    // Each refused connection leaves a numbered text; at most one per poll
    // is logged, so another account cannot flood the log through it.
    if (lastError == nullptr || std::strncmp(lastError, "LaunchControl: connection ", 26) != 0) return;
    if (m_LastLaunchRefusal == lastError) return;
    m_LastLaunchRefusal = lastError;
    GetLog()->LogWarn("%s", lastError);
}

void TfrmVarnholt::SendToLoader(uint32_t message) {
    if (m_SendToLoader != nullptr) m_SendToLoader(m_LoaderClassName, m_LoaderWindowName, message);
}

bool TfrmVarnholt::LaunchStartRequest() {
    if (s_Instance == nullptr || s_Instance->CoreRunning()) return false;
    s_Instance->StartStopClick();
    return true;
}

bool TfrmVarnholt::LaunchStopRequest() {
    if (s_Instance == nullptr || !s_Instance->CoreRunning()) return false;
    s_Instance->StartStopClick();
    return true;
}

void TfrmVarnholt::OnStageText(void* context, const char* text, int length) {
    auto* form = static_cast<TfrmVarnholt*>(context);
    MainWindowMessage message;
    message.id = WM_USER_STAGE;
    message.wParam = static_cast<uint64_t>(length);
    message.copyData.assign(text, static_cast<size_t>(length));
    form->WindowProc(message);
}

void PostToLoaderWindow(const std::string& className, const std::string& windowName, uint32_t message) {
    if (className.empty() && windowName.empty()) return;
    if (auto loader = plat::FindWindow(className, windowName)) plat::PostMessage(*loader, message, 0, 0);
}

MainWindowMessage ToMainWindowMessage(const plat::WindowMessage& message) {
    MainWindowMessage converted;
    converted.id = message.msg;
    converted.wParam = message.wParam;
    converted.lParam = message.lParam;
    converted.dwData = message.dwData;
    converted.copyData.assign(message.data.begin(), message.data.end());
    return converted;
}

void LogRefusedWindowMessage(pid_t senderPid, uid_t senderUid) {
    // Another account can send as many datagrams as it likes: the first
    // lines say who, later ones only every thousandth.
    static uint64_t refused = 0;
    ++refused;
    if (refused > 20 && refused % 1000 != 0) return;
    GetLog()->LogWarn("Window message from pid %d (uid %u) refused: not this account (%llu so far)",
                      static_cast<int>(senderPid), static_cast<unsigned>(senderUid),
                      static_cast<unsigned long long>(refused));
}
