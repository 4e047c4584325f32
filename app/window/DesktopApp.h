// The desktop program around the main window: the Qt application, the
// message window that loaders and second instances reach, the close signals
// (SIGTERM and SIGINT are a confirmed close, as a service manager's stop is)
// and the launch controller's timer, all dispatched by Qt's event loop on
// the window thread. Message boxes of every layer are shown as Qt boxes.
#pragma once

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/ServiceSignals.h"

class TfrmVarnholtWindow;
class ScreenshotTour;

namespace plat {
class MessageWindow;
struct WindowMessage;
}  // namespace plat

class DesktopApp {
public:
    static constexpr const char* kWindowClass = "TfrmVarnholt";
    static constexpr const char* kWindowName = "VarnholtServer";
    static constexpr int kLaunchIntervalMs = 500;

    DesktopApp(int& argc, char** argv);
    ~DesktopApp();
    DesktopApp(const DesktopApp&) = delete;
    DesktopApp& operator=(const DesktopApp&) = delete;

    int Run(const std::vector<std::string>& arguments);

    // True when a window system can be reached; without one the program
    // runs on its console instead.
    static bool DisplayAvailable();

private:
    void InstallMessageBoxes();
    void WatchMessageWindow();
    void WatchSignals();
    void OnWindowMessage(const plat::WindowMessage& message);
    void OnSignal();

    plat::ServiceSignals m_Signals;  // first: before any thread exists
    QApplication m_Application;
    std::unique_ptr<TfrmVarnholtWindow> m_Window;
    std::unique_ptr<plat::MessageWindow> m_MessageWindow;
    std::unique_ptr<QSocketNotifier> m_MessageNotifier;
    std::unique_ptr<QSocketNotifier> m_SignalNotifier;
    std::unique_ptr<ScreenshotTour> m_ScreenshotTour;
    QTimer m_LaunchTimer;
};
