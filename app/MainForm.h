// TfrmVarnholt: the main window's control flow, which owns the life of the
// gateway. Creation reads and declares the settings, guards against a second
// instance, sets up the log and the launch controller, creates the server
// core and waits; Start/Stop starts and stops the relay in a fixed order; the
// close confirms, stops and releases everything. What is shown goes through
// an IMainView, so the desktop window and the headless daemon run the same
// flow. Every operation runs on the window thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AdminExtension.h"
#include "app/HostChecksExtension.h"
#include "app/IMainView.h"
#include "app/StartupExtensions.h"
#include "app/StatusLinkExtension.h"

class CConfigFileProxy;
class CServerCore;

namespace plat {
class SingleInstanceGuard;
struct WindowMessage;
}  // namespace plat

// One message for the main window, as the window procedure gets it.
struct MainWindowMessage {
    uint32_t id = 0;
    uint64_t wParam = 0;
    uint64_t lParam = 0;
    uint64_t dwData = 0;      // WM_COPYDATA only
    std::string copyData;     // WM_COPYDATA only
};

// Sends a message to the loader window (found by class and window name each
// time); the window messages layer of the process provides it.
using LoaderMessageFunc = void (*)(const std::string& className, const std::string& windowName, uint32_t message);

// The LoaderMessageFunc of both programs: posts to the loader window when
// one with that class and name exists; nothing without a loader.
void PostToLoaderWindow(const std::string& className, const std::string& windowName, uint32_t message);
// A message of the process's message window as the window procedure takes it.
MainWindowMessage ToMainWindowMessage(const plat::WindowMessage& message);
// The message window's refusal of a sender of another account, as a Warn line.
void LogRefusedWindowMessage(pid_t senderPid, uid_t senderUid);

class TfrmVarnholt {
public:
    static constexpr const char* kNodeFileName = "VarnholtServer.ini";
    static constexpr const char* kSettingsPath = "Config\\Config.ini";
    static constexpr const char* kSection = "VarnholtServer";
    static constexpr uint32_t WM_USER_STAGE = 0x400 + 6;  // 1030: stage text from the core
    static constexpr uint32_t WM_APP_STARTED = 0x8000 + 3;
    static constexpr uint32_t WM_APP_EXITING = 0x8000 + 2;
    static constexpr uint32_t WM_COPYDATA_ID = 0x004A;
    static constexpr uint32_t WM_QUERYENDSESSION_ID = 0x0011;
    static constexpr uint64_t kCloseRequest = 101;
    // Pause between start attempts, so a refused connect does not turn the
    // loop into tens of thousands of log lines a second.
    static constexpr int kStartRetryPauseMs = 1000;

    TfrmVarnholt(IMainView& view, LoaderMessageFunc sendToLoader);
    ~TfrmVarnholt();
    TfrmVarnholt(const TfrmVarnholt&) = delete;
    TfrmVarnholt& operator=(const TfrmVarnholt&) = delete;

    StartupExtensions& Extensions() { return m_Extensions; }

    // The form's create handler. False when creation stopped (second
    // instance, a check that ended it); the application then terminates.
    bool FormCreate(const std::vector<std::string>& arguments);
    // The Start/Stop button.
    void StartStopClick();
    // Close query ("Close Sure?"), then the close handler; true when the
    // window closes.
    bool CloseQuery();
    void FormClose();
    // The destroy handler.
    void FormDestroy();
    // Both log files are closed and opened anew by name (after a rotation).
    void ReopenLogFiles();
    // The replacement window procedure; true when the message was handled.
    bool WindowProc(const MainWindowMessage& message);
    // The 500 ms launch timer.
    void LaunchTimerTick();
    // The "Save" button.
    void SaveSettings();

    bool IsShownRunning() const { return m_ShownRunning; }
    // The local time of the last successful start, empty before the first;
    // the start tick is the millisecond tick at that moment.
    const std::string& StartTimeText() const { return m_StartTimeText; }
    uint32_t StartTick() const { return m_StartTick; }
    bool StartFailedForGood() const { return !m_ConfigProblem.empty(); }
    // The last start attempt was ended by one of its steps (the StatusServer
    // did not answer); pressing Start again may succeed.
    bool StartEndedByStep() const { return m_StartEndedByStep; }
    const std::string& ConfigProblem() const { return m_ConfigProblem; }
    // Set when the process should end (close confirmed or a loader's close).
    bool ExitRequested() const { return m_ExitRequested; }
    int ExitCode() const { return m_ExitCode; }
    const std::string& LoaderClassName() const { return m_LoaderClassName; }
    const std::string& LoaderWindowName() const { return m_LoaderWindowName; }

private:
    struct StartSettings;

    bool OpenConfigFiles();
    void DeclareSettings();
    bool RunInstanceGuard();
    void InitLaunchControl();
    void HandleAutostart(const std::vector<std::string>& arguments);
    void StartRelay();
    void StopRelay();
    // Reads an integer setting of Config.ini that must lie in [min, max];
    // false with m_ConfigProblem set when it does not.
    bool ReadBoundedSetting(const char* key, int fallback, int min, int max, const char* rangeText, int& value);
    bool ReadStartSettings(StartSettings& settings);
    bool ApplyServiceLimits();
    void ShowState(bool running);
    void SendToLoader(uint32_t message);
    void LogLaunchRefusal(const char* lastError);
    bool CoreRunning() const;

    static bool LaunchStartRequest();
    static bool LaunchStopRequest();
    static void OnStageText(void* context, const char* text, int length);

    IMainView& m_View;
    LoaderMessageFunc m_SendToLoader;
    StartupExtensions m_Extensions;
    std::unique_ptr<CConfigFileProxy> m_SettingsFile;
    std::unique_ptr<CConfigFileProxy> m_NodeFile;
    uint32_t m_StartTick = 0;
    std::unique_ptr<plat::SingleInstanceGuard> m_InstanceGuard;
    std::string m_StartTimeText;
    std::string m_LoaderClassName;
    std::string m_LoaderWindowName;
    bool m_ShownRunning = false;
    bool m_LaunchSeenInited = false;
    bool m_Starting = false;
    bool m_Stopped = false;
    bool m_ExitRequested = false;
    int m_ExitCode = 0;
    std::string m_ConfigProblem;
    bool m_StartEndedByStep = false;
    std::string m_LastLaunchRefusal;
    HostChecksExtension m_HostChecks;
    StatusLinkExtension m_StatusLink{m_View, m_SettingsFile};
    AdminExtension m_Admin;

    static TfrmVarnholt* s_Instance;  // for the launch controller's plain callbacks
};
