// Pictures of the running window for people who check it by eye: when
// VARNHOLT_SCREENSHOT_DIR names a folder, the window waits
// VARNHOLT_SCREENSHOT_AFTER seconds (30 by default), then shows each page and
// sub-page in turn and saves what the screen shows of the window as a PNG
// ("01-Setting.png" ...), then the packet recorder window, and ends the
// program as a confirmed close would.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class TfrmVarnholtWindow;
class QWidget;

class ScreenshotTour : public QObject {
    Q_OBJECT

public:
    static std::unique_ptr<ScreenshotTour> FromEnvironment(TfrmVarnholtWindow& window);

    ScreenshotTour(TfrmVarnholtWindow& window, QString folder, int afterSeconds);

private:
    void Run();
    bool Save(QWidget& widget, const QString& name);
    void Settle(int milliseconds);

    TfrmVarnholtWindow& m_Window;
    QString m_Folder;
    int m_Number = 0;
};
