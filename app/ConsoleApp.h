// The application around the main window's flow when it runs on a console:
// the headless daemon, and the desktop program until its window exists. It
// owns the message window that loaders and second instances reach, the
// signal descriptor and the two timers, and runs the loop that dispatches
// them on the window thread. SIGTERM and SIGINT are a confirmed close: the
// relay stops in order, then the destroy handler runs and the exit code is 0.
// SIGHUP reopens the log files. The daemon ends with 78 when a bad setting
// refuses its start.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/ConsoleView.h"
#include "app/MainForm.h"
#include "platform/ServiceSignals.h"

namespace plat {
class MessageWindow;
struct WindowMessage;
}  // namespace plat

class ConsoleApp {
public:
    static constexpr const char* kWindowClass = "TfrmVarnholt";
    static constexpr const char* kWindowName = "VarnholtServer";
    static constexpr int kRefreshIntervalMs = 1000;
    static constexpr int kLaunchIntervalMs = 500;
    // The daemon has no operator to press Start again after a start attempt
    // that the StatusServer link ended: it retries at this pace.
    static constexpr int kStartRetryIntervalMs = 5000;
    // The exit code of a daemon whose start a bad setting refused (EX_CONFIG).
    static constexpr int kExitBadSetting = 78;

    // autostart: start the relay during creation even without the loader's
    // "autostart" command line (the daemon does).
    explicit ConsoleApp(bool autostart);
    ~ConsoleApp();
    ConsoleApp(const ConsoleApp&) = delete;
    ConsoleApp& operator=(const ConsoleApp&) = delete;

    int Run(const std::vector<std::string>& arguments);

private:
    using Clock = std::chrono::steady_clock;

    void Pump(int waitMs);
    void OnWindowMessage(const plat::WindowMessage& message);
    void OnSignal();
    void RunDueTimers();
    int MillisecondsToNextTimer() const;
    void RetryStartIfDue(Clock::time_point now);
    bool EndsForBadSetting() const;

    const bool m_Autostart;
    plat::ServiceSignals m_Signals;  // first: before any thread exists
    ConsoleView m_View;
    std::unique_ptr<TfrmVarnholt> m_Form;
    std::unique_ptr<plat::MessageWindow> m_Window;
    Clock::time_point m_NextRefresh;
    Clock::time_point m_NextLaunch;
    Clock::time_point m_NextStartRetry = Clock::time_point::max();
    bool m_Closing = false;
};
