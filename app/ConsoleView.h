// The main window's view on a console, for the headless daemon and for the
// desktop program until its window exists: every status-bar text and label
// change is printed with a time stamp; questions get the answer a running
// service needs (yes: a close that was asked for goes ahead). Window thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/IMainView.h"

class ConsoleView final : public IMainView {
public:
    // pump: runs the application's message loop once for at most the given
    // milliseconds (window messages, signals, timers).
    using PumpFunc = std::function<void(int waitMs)>;

    explicit ConsoleView(std::FILE* out = stdout) : m_Out(out) {}

    void SetPump(PumpFunc pump) { m_Pump = std::move(pump); }
    bool RefreshTimerEnabled() const { return m_RefreshTimer; }
    bool LaunchTimerEnabled() const { return m_LaunchTimer; }
    bool TerminateRequested() const { return m_TerminateRequested; }

    void SetCaption(const std::string& caption) override;
    void SetStatusText(const std::string& text) override;
    void SetStartStopButton(const std::string& caption, bool visible, bool enabled) override;
    void SetStartTimeLabel(const std::string& text, bool visible) override;
    void SetCloseWarnLabel(const std::string& text, bool visible) override;
    void SetStatusLightRunning() override;
    void SetMutexSignText(const std::string& text) override;
    void EchoLogLine(const std::string& text) override { Print("log", text); }
    void ShowMessage(const std::string& caption, const std::string& text) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    void ProcessPendingMessages(int waitMs) override;
    void SetRefreshTimer(bool enabled) override { m_RefreshTimer = enabled; }
    void SetLaunchTimer(bool enabled) override { m_LaunchTimer = enabled; }
    void RequestTerminate() override { m_TerminateRequested = true; }
    void BringToFront() override;

private:
    void Print(const std::string& what, const std::string& text);

    std::FILE* m_Out;
    PumpFunc m_Pump;
    std::string m_LastStatus;
    bool m_RefreshTimer = false;
    bool m_LaunchTimer = false;
    bool m_TerminateRequested = false;
};
