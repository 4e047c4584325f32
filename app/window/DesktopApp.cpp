#include "app/window/DesktopApp.h"


#include <QMessageBox>
#include <cstdlib>

#include "app/window/ScreenshotTour.h"
#include "app/window/TfrmVarnholtWindow.h"
#include "infra/CommonFunc.h"
#include "platform/CrashReporter.h"
#include "platform/ErrorBox.h"
#include "platform/MessageBox.h"
#include "platform/MessageWindow.h"
#include "platform/WinPath.h"

namespace {

bool PresentMessageBox(const plat::MessageBoxRequest& request) {
    QMessageBox box;
    box.setWindowTitle(request.caption.empty() ? QApplication::applicationName()
                                               : QString::fromStdString(request.caption));
    box.setText(QString::fromStdString(request.text));
    box.setIcon(request.icon == plat::MessageBoxIcon::Error         ? QMessageBox::Critical
                : request.icon == plat::MessageBoxIcon::Information ? QMessageBox::Information
                                                                    : QMessageBox::NoIcon);
    box.setStandardButtons(request.buttons == plat::MessageBoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                                                : QMessageBox::Ok);
    if (request.topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Ok;
}

void PresentErrorBox(const char* caption, const char* text) {
    plat::MessageBoxRequest request;
    request.caption = caption;
    request.text = text;
    request.icon = plat::MessageBoxIcon::Error;
    request.topmost = true;
    PresentMessageBox(request);
}

}  // namespace

DesktopApp::DesktopApp(int& argc, char** argv) : m_Application(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("VarnholtServer"));
}

DesktopApp::~DesktopApp() {
    plat::SetMessageBoxPresenter(nullptr);
    plat::SetErrorBoxPresenter(nullptr);
    m_SignalNotifier.reset();
    m_MessageNotifier.reset();
}

bool DesktopApp::DisplayAvailable() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int DesktopApp::Run(const std::vector<std::string>& arguments) {
    plat::CrashReporter::Install(plat::TranslatePath("D:\\ServerLog\\"), &ExceptionCodeName);
    InstallMessageBoxes();
    m_MessageWindow = plat::MessageWindow::Create(kWindowClass, kWindowName, plat::MessageWindow::NameClash::KeepUnnamed);
    if (m_MessageWindow) m_MessageWindow->SetRefusedHandler(&LogRefusedWindowMessage);
    m_Window = std::make_unique<TfrmVarnholtWindow>(&PostToLoaderWindow);
    WatchMessageWindow();
    WatchSignals();
    m_LaunchTimer.setInterval(kLaunchIntervalMs);
    QObject::connect(&m_LaunchTimer, &QTimer::timeout, [this] {
        if (m_Window->LaunchTimerEnabled()) m_Window->Flow().LaunchTimerTick();
    });
    m_LaunchTimer.start();

    const bool created = m_Window->Create(arguments);
    if (created && !m_Window->TerminateRequested() && !m_Window->Flow().ExitRequested()) {
        m_Window->show();
        m_ScreenshotTour = ScreenshotTour::FromEnvironment(*m_Window);
        QApplication::exec();
    }
    m_LaunchTimer.stop();
    m_Window->Destroy();
    const int exitCode = m_Window->Flow().ExitCode();
    m_ScreenshotTour.reset();
    m_Window.reset();
    return exitCode;
}

void DesktopApp::InstallMessageBoxes() {
    plat::SetMessageBoxPresenter(&PresentMessageBox);
    plat::SetErrorBoxPresenter(&PresentErrorBox);
}

void DesktopApp::WatchMessageWindow() {
    if (!m_MessageWindow) return;
    m_MessageNotifier = std::make_unique<QSocketNotifier>(m_MessageWindow->Fd(), QSocketNotifier::Read);
    QObject::connect(m_MessageNotifier.get(), &QSocketNotifier::activated, [this] {
        m_MessageWindow->Dispatch([this](const plat::WindowMessage& message) { OnWindowMessage(message); });
    });
}

void DesktopApp::WatchSignals() {
    if (m_Signals.Fd() < 0) return;
    m_SignalNotifier = std::make_unique<QSocketNotifier>(m_Signals.Fd(), QSocketNotifier::Read);
    QObject::connect(m_SignalNotifier.get(), &QSocketNotifier::activated, [this] { OnSignal(); });
}

void DesktopApp::OnWindowMessage(const plat::WindowMessage& message) {
    m_Window->Flow().WindowProc(ToMainWindowMessage(message));
}

void DesktopApp::OnSignal() {
    const plat::ServiceSignals::Taken taken = m_Signals.Drain();
    if (taken.reopenLogs) m_Window->Flow().ReopenLogFiles();
    if (!taken.close) return;
    if (m_Window->Flow().ExitRequested()) return;
    m_Window->Flow().FormClose();
    QApplication::quit();
}

