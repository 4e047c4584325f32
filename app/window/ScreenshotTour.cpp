#include "app/window/ScreenshotTour.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/window/TfrmVarnholtWindow.h"
#include "diag/window/PackRecoderFrm.h"

namespace {

// Pages in the order a person would click through them, with file names.
constexpr struct {
    const char* page;
    const char* name;
} kPages[] = {
    {"tsSetting", "Setting"},
    {"tsThread", "Thread"},
    {"tsWatchGeneral", "Watch-General"},
    {"tsWatchDataServer", "Watch-DataServer"},
    {"tsWatchLoginServer", "Watch-LoginServer"},
    {"tsWatchGameServer", "Watch-GameServer"},
    {"tsWatchRouteServer", "Watch-RouteServer"},
    {"tsParam1", "IOCP-LoginServer"},
    {"tsParam2", "IOCP-RouteServer"},
    {"tsParam3", "IOCP-GameServer"},
    {"tsDebug", "Debug"},
};

}  // namespace

std::unique_ptr<ScreenshotTour> ScreenshotTour::FromEnvironment(TfrmVarnholtWindow& window) {
    const char* folder = std::getenv("VARNHOLT_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0') return nullptr;
    const char* after = std::getenv("VARNHOLT_SCREENSHOT_AFTER");
    const int afterSeconds = (after != nullptr && *after != '\0') ? std::atoi(after) : 30;
    return std::make_unique<ScreenshotTour>(window, QString::fromLocal8Bit(folder), afterSeconds);
}

ScreenshotTour::ScreenshotTour(TfrmVarnholtWindow& window, QString folder, int afterSeconds)
    : m_Window(window), m_Folder(std::move(folder)) {
    QDir().mkpath(m_Folder);
    QTimer::singleShot(afterSeconds * 1000, this, &ScreenshotTour::Run);
}

void ScreenshotTour::Run() {
    // Record every link from now on, so the recorder's picture has packets.
    if (TPackRecoderFrm* recorder = m_Window.Recorder()) {
        if (auto* enableAll = recorder->findChild<QCheckBox*>(QStringLiteral("cbEnableAll"))) {
            if (!enableAll->isChecked()) enableAll->click();
        }
    }
    for (const auto& page : kPages) {
        m_Window.ShowPage(QString::fromUtf8(page.page));
        // Two refresh ticks pass on each page, so its graphs and lists move.
        Settle(2200);
        Save(m_Window, QString::fromUtf8(page.name));
    }
    if (TPackRecoderFrm* recorder = m_Window.Recorder()) {
        recorder->ShowRecorder();
        Settle(1500);
        Save(*recorder, QStringLiteral("PackRecord"));
        recorder->hide();
    }
    std::fprintf(stdout, "screenshots: %d pictures in %s\n", m_Number, m_Folder.toLocal8Bit().constData());
    std::fflush(stdout);
    m_Window.Flow().FormClose();
    QApplication::quit();
}

bool ScreenshotTour::Save(QWidget& widget, const QString& name) {
    widget.raise();
    widget.activateWindow();
    Settle(200);
    // What the screen shows of the window, frame included where the window
    // system draws one; a window system without grabbing falls back to the
    // widget's own rendering.
    QPixmap picture;
    if (QScreen* screen = widget.screen()) picture = screen->grabWindow(widget.winId());
    if (picture.isNull()) picture = widget.grab();
    const QString file = QStringLiteral("%1/%2-%3.png").arg(m_Folder).arg(++m_Number, 2, 10, QChar('0')).arg(name);
    return picture.save(file, "PNG");
}

void ScreenshotTour::Settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}
