// The desktop main window: shows what the main window's control flow tells
// it (status bar, Start/Stop, start time, close note, status light), asks
// the operator its questions, and once a second pulls the relay's state into
// its pages: the receive backlog, the packet pool, the dispatch rate, the
// DataServer link, one live list and graph per listening service, the thread
// list, the network parameter views and the log lights. The flow itself
// knows nothing of the toolkit. Window thread only.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/IMainView.h"
#include "app/MainForm.h"

namespace Ui {
class TfrmVarnholtWindow;
}

class CIOCPParamsView;
class LogLights;
class OwnerDataListView;
class ServiceListView;
class TPackRecoderFrm;
class TrafficGraph;
class QCloseEvent;
class QLabel;

class TfrmVarnholtWindow : public QMainWindow, public IMainView {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 1000;
    // The system's hot-track colour: the status light after the first error.
    static constexpr unsigned kHotTrackColour = 0x0066CC;
    static constexpr unsigned kRunningColour = 0x00FFFF;
    static constexpr int kThreadNameColumnWidth = 260;

    explicit TfrmVarnholtWindow(LoaderMessageFunc sendToLoader, QWidget* parent = nullptr);
    ~TfrmVarnholtWindow() override;

    TfrmVarnholt& Flow() { return *m_Flow; }
    // Runs the flow's creation, then the window's own set-up that needs the
    // log and the core. False when creation stopped.
    bool Create(const std::vector<std::string>& arguments);
    // The flow's destroy handler, once.
    void Destroy();
    bool TerminateRequested() const { return m_TerminateRequested; }

    // The refresh timer's work; public so the window can be driven tick by tick.
    void RefreshTick();
    TPackRecoderFrm* Recorder() const { return m_Recorder.get(); }
    LogLights* Lights() const { return m_LogLights.get(); }
    // A page of the main page control by its object name ("tsWatch"...).
    void ShowPage(const QString& pageName);

    void SetCaption(const std::string& caption) override;
    void SetStatusText(const std::string& text) override;
    void SetStartStopButton(const std::string& caption, bool visible, bool enabled) override;
    void SetStartTimeLabel(const std::string& text, bool visible) override;
    void SetCloseWarnLabel(const std::string& text, bool visible) override;
    void SetStatusLightRunning() override;
    void SetMutexSignText(const std::string& text) override;
    void EchoLogLine(const std::string& text) override;
    void ShowMessage(const std::string& caption, const std::string& text) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    void ProcessPendingMessages(int waitMs) override;
    void SetRefreshTimer(bool enabled) override;
    void SetLaunchTimer(bool enabled) override;
    void RequestTerminate() override;
    void BringToFront() override;

    bool LaunchTimerEnabled() const { return m_LaunchTimerEnabled; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetUpControls();
    void SetUpLogLevelList();
    void SetUpGraphs();
    void ConnectControls();
    void RegisterViewSteps();
    bool CreateViews();
    bool DestroyViews();
    bool StartViews();
    void OnLogLevelChanged();
    void OnMainPageChanged(int index);
    void OnTestCrashReporter();
    void RefreshServices();
    void SetLabelColour(QLabel* label, unsigned rgb);

    std::unique_ptr<Ui::TfrmVarnholtWindow> m_Ui;
    std::unique_ptr<TfrmVarnholt> m_Flow;
    QTimer m_RefreshTimer;
    bool m_LaunchTimerEnabled = false;
    bool m_TerminateRequested = false;
    bool m_Destroyed = false;
    bool m_Closing = false;
    std::array<std::unique_ptr<CIOCPParamsView>, 3> m_ParamsViews;
    std::array<std::unique_ptr<ServiceListView>, 3> m_ServiceLists;
    std::array<TrafficGraph*, 3> m_ServiceGraphs{};  // owned by the form
    std::unique_ptr<LogLights> m_LogLights;
    std::unique_ptr<TPackRecoderFrm> m_Recorder;
};
