#include "app/ConsoleApp.h"

#include <poll.h>

#include <algorithm>
#include <cstring>

#include "infra/CommonFunc.h"
#include "infra/ErrorLogEventNotice.h"
#include "platform/CrashReporter.h"
#include "platform/MessageWindow.h"
#include "platform/WinPath.h"

ConsoleApp::ConsoleApp(bool autostart) : m_Autostart(autostart) {}

ConsoleApp::~ConsoleApp() = default;

int ConsoleApp::Run(const std::vector<std::string>& arguments) {
    plat::CrashReporter::Install(plat::TranslatePath("D:\\ServerLog\\"), &ExceptionCodeName);
    m_Window = plat::MessageWindow::Create(kWindowClass, kWindowName, plat::MessageWindow::NameClash::KeepUnnamed);
    if (m_Window) m_Window->SetRefusedHandler(&LogRefusedWindowMessage);
    m_View.SetPump([this](int waitMs) { Pump(waitMs); });
    m_Form = std::make_unique<TfrmVarnholt>(m_View, &PostToLoaderWindow);

    std::vector<std::string> createArguments = arguments;
    const bool loaderAutostart = arguments.size() == 3 && strcasecmp(arguments[0].c_str(), "autostart") == 0;
    if (m_Autostart && !loaderAutostart && arguments.empty()) createArguments = {"autostart", "", ""};

    m_NextRefresh = Clock::now() + std::chrono::milliseconds(kRefreshIntervalMs);
    m_NextLaunch = Clock::now() + std::chrono::milliseconds(kLaunchIntervalMs);
    const bool created = m_Form->FormCreate(createArguments);
    int exitCode = 0;
    if (created && !m_Form->ExitRequested()) {
        while (!m_Form->ExitRequested() && !m_View.TerminateRequested() && !EndsForBadSetting()) {
            Pump(kRefreshIntervalMs);
        }
    }
    // Nobody is there to fix the file and press Start again: a service
    // manager sees the configuration error and does not restart in a loop.
    if (EndsForBadSetting()) exitCode = kExitBadSetting;
    m_Form->FormDestroy();
    return exitCode != 0 ? exitCode : m_Form->ExitCode();
}

void ConsoleApp::Pump(int waitMs) {
    pollfd fds[2] = {{m_Signals.Fd(), POLLIN, 0}, {m_Window ? m_Window->Fd() : -1, POLLIN, 0}};
    const int timeout = std::max(0, std::min(waitMs, MillisecondsToNextTimer()));
    const int ready = ::poll(fds, 2, timeout);
    if (ready > 0 && (fds[0].revents & POLLIN)) OnSignal();
    if (ready > 0 && m_Window && (fds[1].revents & POLLIN)) {
        m_Window->Dispatch([this](const plat::WindowMessage& message) { OnWindowMessage(message); });
    }
    RunDueTimers();
}

void ConsoleApp::OnWindowMessage(const plat::WindowMessage& message) { m_Form->WindowProc(ToMainWindowMessage(message)); }

bool ConsoleApp::EndsForBadSetting() const { return m_Autostart && m_Form->StartFailedForGood(); }

void ConsoleApp::OnSignal() {
    const plat::ServiceSignals::Taken taken = m_Signals.Drain();
    if (taken.reopenLogs) m_Form->ReopenLogFiles();
    if (!taken.close) return;
    // A signal that comes while the close is already under way changes nothing.
    if (m_Closing) return;
    m_Closing = true;
    if (m_Form->CloseQuery()) {
        m_Form->FormClose();
    } else {
        m_Closing = false;
    }
}

int ConsoleApp::MillisecondsToNextTimer() const {
    const auto next = std::min({m_NextRefresh, m_NextLaunch, m_NextStartRetry});
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(0, left));
}

void ConsoleApp::RunDueTimers() {
    const auto now = Clock::now();
    if (now >= m_NextLaunch) {
        m_NextLaunch = now + std::chrono::milliseconds(kLaunchIntervalMs);
        if (m_View.LaunchTimerEnabled()) m_Form->LaunchTimerTick();
    }
    RetryStartIfDue(now);
    if (now >= m_NextRefresh) {
        m_NextRefresh = now + std::chrono::milliseconds(kRefreshIntervalMs);
        // The monitoring view joins this tick later; the error-log notice
        // ticks whether or not the view refreshes.
        CErrorLogEventNotice::Instance().TickNotice();
    }
}

void ConsoleApp::RetryStartIfDue(Clock::time_point now) {
    if (!m_Autostart || m_Closing || !m_Form->StartEndedByStep() || m_Form->IsShownRunning()) {
        m_NextStartRetry = Clock::time_point::max();
        return;
    }
    if (m_NextStartRetry == Clock::time_point::max()) {
        m_NextStartRetry = now + std::chrono::milliseconds(kStartRetryIntervalMs);
        return;
    }
    if (now < m_NextStartRetry) return;
    m_NextStartRetry = Clock::time_point::max();
    m_Form->StartStopClick();
}

