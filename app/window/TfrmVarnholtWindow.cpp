#include "app/window/TfrmVarnholtWindow.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QListWidget>
#include <QMessageBox>
#include <QStatusBar>

#include "ShareDefine/IOCPParamsView.h"
#include "ShareDefine/MMORPGPacket.h"
#include "app/ServiceListView.h"
#include "app/window/LogLights.h"
#include "app/window/OwnerDataListView.h"
#include "app/window/TrafficGraph.h"
#include "core/ServerCore.h"
#include "diag/window/PackRecoderFrm.h"
#include "infra/ErrorLogEventNotice.h"
#include "infra/Log.h"
#include "infra/LogMask.h"
#include "infra/ThreadManagerView.h"
#include "platform/Tick.h"
#include "ui_TfrmVarnholtWindow.h"

namespace {

constexpr const char* kLogLevelChecks[kLogMaskCheckCount] = {"Debug Log", "Frm Log", "Warning", "Error log",
                                                            "Fatal Log"};
constexpr QRgb kReceiveColour = 0xFF0000;
constexpr QRgb kDataServerSendColour = 0x0000FF;
constexpr QRgb kServiceSendColour = 0xFFFF00;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Format(const char* format, const std::string& value) { return QString::asprintf(format, value.c_str()); }

}  // namespace

TfrmVarnholtWindow::TfrmVarnholtWindow(LoaderMessageFunc sendToLoader, QWidget* parent)
    : QMainWindow(parent), m_Ui(std::make_unique<Ui::TfrmVarnholtWindow>()) {
    m_Ui->setupUi(this);
    SetUpControls();
    ConnectControls();
    m_Flow = std::make_unique<TfrmVarnholt>(*this, sendToLoader);
    RegisterViewSteps();
}

TfrmVarnholtWindow::~TfrmVarnholtWindow() {
    Destroy();
    m_Recorder.reset();
    m_LogLights.reset();
}

void TfrmVarnholtWindow::SetUpControls() {
    SetUpLogLevelList();
    SetUpGraphs();
    for (QLabel* label : {m_Ui->lblCloseWarn, m_Ui->lblStartTime}) {
        label->setStyleSheet(QStringLiteral("QLabel { color: red; background: transparent; }"));
        label->hide();
    }
    m_Ui->lblStartTime->clear();
    m_Ui->lblStatusLight->setAutoFillBackground(true);
    m_RefreshTimer.setInterval(kRefreshIntervalMs);
    m_ServiceGraphs = {m_Ui->pgLoginServer, m_Ui->pgGameServer, m_Ui->pgRouteServer};
}

void TfrmVarnholtWindow::SetUpLogLevelList() {
    for (const char* caption : kLogLevelChecks) {
        auto* item = new QListWidgetItem(QString::fromUtf8(caption), m_Ui->chklstLoglVState);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Unchecked);
    }
}

void TfrmVarnholtWindow::SetUpGraphs() {
    m_Ui->pgDataServer->AddSeries(QStringLiteral("Recv"), QColor(kReceiveColour));
    m_Ui->pgDataServer->AddSeries(QStringLiteral("Send"), QColor(kDataServerSendColour));
    for (TrafficGraph* graph : {m_Ui->pgLoginServer, m_Ui->pgGameServer, m_Ui->pgRouteServer}) {
        graph->AddSeries(QStringLiteral("Recv"), QColor(kReceiveColour));
        graph->AddSeries(QStringLiteral("Send"), QColor(kServiceSendColour));
    }
}

void TfrmVarnholtWindow::ConnectControls() {
    connect(&m_RefreshTimer, &QTimer::timeout, this, &TfrmVarnholtWindow::RefreshTick);
    connect(m_Ui->btnStartStop, &QPushButton::clicked, this, [this] { m_Flow->StartStopClick(); });
    connect(m_Ui->btnSave, &QPushButton::clicked, this, [this] { m_Flow->SaveSettings(); });
    connect(m_Ui->btnPackRecord, &QPushButton::clicked, this, [this] {
        if (m_Recorder) m_Recorder->ShowRecorder();
    });
    connect(m_Ui->btnTestEurekaLog, &QPushButton::clicked, this, &TfrmVarnholtWindow::OnTestCrashReporter);
    connect(m_Ui->chklstLoglVState, &QListWidget::itemChanged, this, &TfrmVarnholtWindow::OnLogLevelChanged);
    connect(m_Ui->pgcMain, &QTabWidget::currentChanged, this, &TfrmVarnholtWindow::OnMainPageChanged);
}

void TfrmVarnholtWindow::RegisterViewSteps() {
    StartupExtensions& steps = m_Flow->Extensions();
    steps.Add(ExtensionPoint::OnCreateViews, [this] { return CreateViews(); });
    steps.Add(ExtensionPoint::OnStartViews, [this] { return StartViews(); });
    steps.Add(ExtensionPoint::OnDestroyViews, [this] { return DestroyViews(); });
}

bool TfrmVarnholtWindow::Create(const std::vector<std::string>& arguments) {
    if (!m_Flow->FormCreate(arguments)) return false;
    // Every level is logged at start-up; ticking the items hands the mask to the log.
    for (int i = 0; i < m_Ui->chklstLoglVState->count(); ++i) {
        m_Ui->chklstLoglVState->item(i)->setCheckState(Qt::Checked);
    }
    ThreadManagerView::Instance().Attach(m_Ui->lvThreadInfo);
    // Room for the longest thread name ("<client>_RecvThread") in this font.
    m_Ui->lvThreadInfo->setColumnWidth(0, kThreadNameColumnWidth);
    m_LogLights = std::make_unique<LogLights>(GetLog(), this, m_Ui->pnlLogLights);
    m_LogLights->Build();
    return true;
}

void TfrmVarnholtWindow::Destroy() {
    if (m_Destroyed || !m_Flow) return;
    m_Destroyed = true;
    ThreadManagerView::Instance().Attach(nullptr);
    m_Flow->FormDestroy();
}

bool TfrmVarnholtWindow::CreateViews() {
    CServerCore* core = GetServerCore();
    INetProcess* paramServices[] = {core->GetLoginServerCore(), core->GetRouteServerCore(),
                                    core->GetGameServerCore()};
    OwnerDataListView* paramLists[] = {m_Ui->ListView1, m_Ui->ListView2, m_Ui->ListView3};
    for (size_t i = 0; i < m_ParamsViews.size(); ++i) {
        m_ParamsViews[i] = std::make_unique<CIOCPParamsView>(paramServices[i]->GetService(), paramLists[i]);
        m_ParamsViews[i]->Prepare();
    }
    // The live lists, in the order the refresh tick walks them.
    m_ServiceLists[0] = std::make_unique<ServiceListView>(core->GetLoginServerCore(), m_Ui->lvLoginServer,
                                                          ServiceListView::LoginServerCaptions());
    m_ServiceLists[1] = std::make_unique<ServiceListView>(core->GetGameServerCore(), m_Ui->lvGameServer,
                                                          ServiceListView::GameServerCaptions());
    m_ServiceLists[2] = std::make_unique<ServiceListView>(core->GetRouteServerCore(), m_Ui->lvRouteServer,
                                                          ServiceListView::RouteServerCaptions());
    for (auto& list : m_ServiceLists) list->Prepare();
    return true;
}

bool TfrmVarnholtWindow::DestroyViews() {
    for (auto& view : m_ParamsViews) view.reset();
    for (auto& list : m_ServiceLists) list.reset();
    return true;
}

bool TfrmVarnholtWindow::StartViews() {
    if (!m_Recorder) m_Recorder = std::make_unique<TPackRecoderFrm>();
    if (!m_Recorder->TabsInitialised()) {
        m_Recorder->AddRecorderTab("DataServer", 2);
        m_Recorder->AddRecorderTab("GameServer", 3);
        m_Recorder->AddRecorderTab("LoginServer", 4);
        m_Recorder->AddRecorderTab("RouteServer", 5);
        m_Ui->btnPackRecord->setEnabled(true);
    }
    return true;
}

void TfrmVarnholtWindow::RefreshTick() {
    CErrorLogEventNotice::Instance().TickNotice();
    if (!m_Ui->chkRefreshGUI->isChecked()) return;
    CServerCore* core = GetServerCore();

    const QString connectState = Text(core->GetServerConnectState());
    if (m_Ui->mmoServerConnectstate->toPlainText() != connectState) {
        m_Ui->mmoServerConnectstate->setPlainText(connectState);
    }
    ThreadManagerView::Instance().Refresh();
    if (!m_Flow->StartTimeText().empty()) {
        const unsigned minutes = (plat::GetTickMs() - m_Flow->StartTick()) / 60000u;
        m_Ui->lblStartTime->setText(QString::asprintf("StartTime : %s, RunTime : %d Min",
                                                      m_Flow->StartTimeText().c_str(), static_cast<int>(minutes)));
    }
    m_Ui->lblRecvQueueLeftPacketCount->setText(
        QString::asprintf("PacketCountInRecvQueue: %d", core->GetRecvQueueCount()));
    m_Ui->lblPackCount->setText(QString::asprintf("PackTotal : %d, Max : %d", MMORPG::MMORPGPacket::m_Count.load(),
                                                  MMORPG::MMORPGPacket::m_MaxCount.load()));
    m_Ui->lblPackDispatchState->setText(Format("DispatchPackState : %s", core->GetDispatchCounter()->GetRateText()));

    DataServerCore* dataServer = core->GetDataServerCore();
    m_Ui->lblRecvFromDataServer->setText(Format("RecvFromDataServer : %s", dataServer->GetRecvCounter().GetRateText()));
    m_Ui->lblSendToDataServer->setText(Format("SendToDataServer : %s", dataServer->GetSendCounter().GetRateText()));
    m_Ui->pgDataServer->AddPoint(0, dataServer->GetRecvCounter().GetByteRate());
    m_Ui->pgDataServer->AddPoint(1, dataServer->GetSendCounter().GetByteRate());
    m_Ui->pgDataServer->Redraw();

    RefreshServices();
    for (auto& view : m_ParamsViews) {
        if (view) view->Refresh();
    }
    LogService* log = GetLog();
    if (log->GetFatalCount() > 0 || log->GetErrorCount() > 0) SetLabelColour(m_Ui->lblStatusLight, kHotTrackColour);
    if (m_LogLights) m_LogLights->Refresh();
    m_Ui->lblLogErrCount->setText(QString::asprintf("LogFatalError : %d", log->GetLogFatalErrorCount()));
}

void TfrmVarnholtWindow::RefreshServices() {
    CServerCore* core = GetServerCore();
    INetProcess* services[] = {core->GetLoginServerCore(), core->GetGameServerCore(), core->GetRouteServerCore()};
    for (size_t i = 0; i < m_ServiceLists.size(); ++i) {
        if (m_ServiceLists[i]) m_ServiceLists[i]->Refresh();
        m_ServiceGraphs[i]->AddPoint(0, services[i]->GetRecvCounterValue());
        m_ServiceGraphs[i]->AddPoint(1, services[i]->GetSendCounterValue());
        m_ServiceGraphs[i]->Redraw();
    }
}

void TfrmVarnholtWindow::ShowPage(const QString& pageName) {
    if (auto* page = m_Ui->pgcMain->findChild<QWidget*>(pageName)) {
        if (m_Ui->pgcMain->indexOf(page) >= 0) {
            m_Ui->pgcMain->setCurrentWidget(page);
        } else if (m_Ui->pgcWatch->indexOf(page) >= 0) {
            m_Ui->pgcMain->setCurrentWidget(m_Ui->tsWatch);
            m_Ui->pgcWatch->setCurrentWidget(page);
        }
    }
}

void TfrmVarnholtWindow::OnMainPageChanged(int index) {
    if (m_Ui->pgcMain->widget(index) == m_Ui->tsWatch) m_Ui->pgcWatch->setCurrentWidget(m_Ui->tsWatchGeneral);
}

void TfrmVarnholtWindow::OnLogLevelChanged() {
    bool checked[kLogMaskCheckCount] = {};
    for (int i = 0; i < kLogMaskCheckCount && i < m_Ui->chklstLoglVState->count(); ++i) {
        checked[i] = m_Ui->chklstLoglVState->item(i)->checkState() == Qt::Checked;
    }
    GetLog()->SetOutputMask(LogOutputMaskFromChecks(checked));
}

void TfrmVarnholtWindow::OnTestCrashReporter() {
    if (!AskYesNo("TestEurekaLog", "Crash the server now to test the crash reporter? A crash report is written "
                                   "into the log folder and the process ends.")) {
        return;
    }
    // A real access violation, so the report shows what an operator would see.
    volatile int* nowhere = nullptr;
    *nowhere = 0;
}

void TfrmVarnholtWindow::SetLabelColour(QLabel* label, unsigned rgb) {
    label->setStyleSheet(QStringLiteral("QLabel { background-color: %1; }").arg(QColor(QRgb(rgb)).name()));
}

void TfrmVarnholtWindow::SetCaption(const std::string& caption) { setWindowTitle(Text(caption)); }

void TfrmVarnholtWindow::SetStatusText(const std::string& text) { m_Ui->statServerState->showMessage(Text(text)); }

void TfrmVarnholtWindow::SetStartStopButton(const std::string& caption, bool visible, bool enabled) {
    m_Ui->btnStartStop->setText(Text(caption));
    m_Ui->btnStartStop->setVisible(visible);
    m_Ui->btnStartStop->setEnabled(enabled);
}

void TfrmVarnholtWindow::SetStartTimeLabel(const std::string& text, bool visible) {
    m_Ui->lblStartTime->setText(Text(text));
    m_Ui->lblStartTime->setVisible(visible);
}

void TfrmVarnholtWindow::SetCloseWarnLabel(const std::string& text, bool visible) {
    m_Ui->lblCloseWarn->setText(Text(text));
    m_Ui->lblCloseWarn->setVisible(visible);
}

void TfrmVarnholtWindow::SetStatusLightRunning() { SetLabelColour(m_Ui->lblStatusLight, kRunningColour); }

void TfrmVarnholtWindow::SetMutexSignText(const std::string& text) { m_Ui->edtMutexSign->setText(Text(text)); }

void TfrmVarnholtWindow::EchoLogLine(const std::string& /*text*/) {
    // The window shows progress in its status bar and log lights; the line
    // itself is in the log files.
}

void TfrmVarnholtWindow::ShowMessage(const std::string& caption, const std::string& text) {
    QMessageBox::information(isVisible() ? this : nullptr, Text(caption), Text(text));
}

bool TfrmVarnholtWindow::AskYesNo(const std::string& caption, const std::string& text) {
    return QMessageBox::question(isVisible() ? this : nullptr, Text(caption), Text(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TfrmVarnholtWindow::ProcessPendingMessages(int waitMs) {
    QEventLoop loop;
    QTimer::singleShot(std::max(waitMs, 0), &loop, &QEventLoop::quit);
    loop.exec();
}

void TfrmVarnholtWindow::SetRefreshTimer(bool enabled) {
    if (enabled) {
        m_RefreshTimer.start();
    } else {
        m_RefreshTimer.stop();
    }
}

void TfrmVarnholtWindow::SetLaunchTimer(bool enabled) { m_LaunchTimerEnabled = enabled; }

void TfrmVarnholtWindow::RequestTerminate() {
    m_TerminateRequested = true;
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TfrmVarnholtWindow::BringToFront() {
    showNormal();
    raise();
    activateWindow();
}

void TfrmVarnholtWindow::closeEvent(QCloseEvent* event) {
    if (m_Closing || m_Flow->ExitRequested()) {
        event->accept();
        return;
    }
    if (!m_Flow->CloseQuery()) {
        event->ignore();
        return;
    }
    m_Closing = true;
    m_Flow->FormClose();
    event->accept();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
