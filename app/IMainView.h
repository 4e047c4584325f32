// What the main window's control flow needs from whatever shows it: the
// desktop window or the console of the headless daemon. Every call comes from
// the window thread. The flow owns the state; a view only shows it and
// answers questions.
#pragma once

#include <string>

class IMainView {
public:
    virtual ~IMainView() = default;

    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // The Start/Stop button.
    virtual void SetStartStopButton(const std::string& caption, bool visible, bool enabled) = 0;
    virtual void SetStartTimeLabel(const std::string& text, bool visible) = 0;
    virtual void SetCloseWarnLabel(const std::string& text, bool visible) = 0;
    virtual void SetStatusLightRunning() = 0;
    virtual void SetMutexSignText(const std::string& text) = 0;
    // A progress line that was just logged ("Server Start Success!"); a
    // console shows it, a window has its log panel for it.
    virtual void EchoLogLine(const std::string& text) = 0;

    // A message box (information), and a yes/no question; a view without a
    // person in front of it answers as a running service needs.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;

    // Lets pending window messages, timers and signals run (used between
    // start attempts). Returns after at most waitMs milliseconds.
    virtual void ProcessPendingMessages(int waitMs) = 0;
    virtual void SetRefreshTimer(bool enabled) = 0;
    virtual void SetLaunchTimer(bool enabled) = 0;
    // Asks the application to terminate once its message loop runs.
    virtual void RequestTerminate() = 0;
    // A second instance asked this one's window to show itself.
    virtual void BringToFront() = 0;
};
