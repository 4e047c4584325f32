#include "diag/window/PackRecoderFrm.h"

#include <QAbstractItemView>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>
#include <cstdio>

#include "diag/PackRecorderManager.h"
#include "diag/window/VirtualListModel.h"
#include "infra/Log.h"
#include "ui_PackRecoderFrm.h"

namespace {

enum PackColumn { pcSequence, pcSessionId, pcPackOrder, pcTime, pcLength, pcInfo, pcCount };

constexpr int kTimerIntervalMs = 10;
constexpr int kTimeColumnWidth = 80;
constexpr int kInfoColumnWidth = 600;
constexpr int kNumberColumnWidth = 64;
constexpr int kWatchColumnWidth = 350;
// A list item shows at most this much of a packet's hex text, as the list
// controls of the suite always did; copy and save keep the whole text. Laying
// out the hex of a large packet on every repaint would stall the window.
constexpr qsizetype kShownHexChars = 259;
// Lines are gathered and written in blocks of about this size, so saving
// 100000 records costs a few hundred writes rather than one per line.
constexpr size_t kSaveBlockSize = 64 * 1024;

// One record as a line of the saved text file, line break included.
void AppendRecordLine(std::string& out, const tagOnePackData& record) {
    char head[128];
    const int len = std::snprintf(head, sizeof head, "%d [%s] [0x%x:%d](%d) ", record.sequence, record.time.c_str(),
                                  static_cast<unsigned>(record.sessionId), record.packOrder,
                                  static_cast<int>(record.rawBytes.size()));
    if (len > 0) out.append(head, static_cast<size_t>(std::min<int>(len, sizeof head - 1)));
    out += record.hexText;
    out += '\n';
}

int SelectedRow(const QAbstractItemView* view) {
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

}  // namespace

TPackRecoderFrm::TPackRecoderFrm(QWidget* parent) : TPackRecoderFrm(PackRecorderManager::Instance(), parent) {}

TPackRecoderFrm::TPackRecoderFrm(PackRecorderManager& manager, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TPackRecoderFrm>()), m_Manager(manager) {
    ui->setupUi(this);
    // A window of its own even when the main window is its parent.
    setWindowFlag(Qt::Window, true);

    ui->tsPack->addTab(QStringLiteral("Recv"));
    ui->tsPack->addTab(QStringLiteral("Send"));
    ui->tsPack->setCurrentIndex(0);

    pmData = new QMenu(this);
    pmData->setObjectName(QStringLiteral("pmData"));
    pmData->addAction(ui->actCopy);
    pmData->addAction(ui->actClear);
    pmData->addAction(ui->actSave);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerIntervalMs);

    m_AskSavePath = [this] { return AskSavePathWithDialog(); };
    m_AskWatchText = [this] { return AskWatchTextWithInputBox(); };

    SetUpLists();
    ConnectEvents();
    Timer1->start();
}

TPackRecoderFrm::~TPackRecoderFrm() {
    // The notification points at m_Dirty; once SetNotify returns, no call of
    // it is running or can start.
    if (m_Notified != nullptr) m_Notified->SetNotify(nullptr, nullptr);
}

void TPackRecoderFrm::SetUpLists() {
    m_PackModel = new VirtualListModel(
        {QStringLiteral("序号"), QStringLiteral("SessionID"), QStringLiteral("PackOrder"), QStringLiteral("时间"),
         QStringLiteral("长度"), QStringLiteral("信息")},
        [this](int row) { return BuildPackRow(row); }, this);
    ui->lvPack->setModel(m_PackModel);
    QHeaderView* packHeader = ui->lvPack->horizontalHeader();
    for (int column : {pcSequence, pcSessionId, pcPackOrder, pcLength}) {
        packHeader->resizeSection(column, kNumberColumnWidth);
    }
    packHeader->resizeSection(pcTime, kTimeColumnWidth);
    packHeader->resizeSection(pcInfo, kInfoColumnWidth);

    m_WatchModel = new VirtualListModel({QStringLiteral("Str")}, [this](int row) { return BuildWatchRow(row); }, this);
    ui->lvAttention->setModel(m_WatchModel);
    ui->lvAttention->horizontalHeader()->resizeSection(0, kWatchColumnWidth);

    // Rows of one height let the view place any of 100000 rows without
    // asking the model about the rows above it.
    for (QTableView* view : {ui->lvPack, ui->lvAttention}) {
        QHeaderView* rows = view->verticalHeader();
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setDefaultSectionSize(view->fontMetrics().height() + 4);
    }
}

void TPackRecoderFrm::ConnectEvents() {
    connect(ui->tcPackType, &QTabBar::currentChanged, this, [this] {
        SelectDirection(-1);
        RefreshControls();
    });
    connect(ui->tsPack, &QTabBar::currentChanged, this, [this](int index) {
        SelectDirection(index);
        RefreshControls();
    });
    connect(ui->cbEnableAll, &QCheckBox::clicked, this, &TPackRecoderFrm::OnEnableAllClicked);
    connect(ui->cbEnable, &QCheckBox::clicked, this, &TPackRecoderFrm::OnEnableClicked);
    connect(ui->cbSelWatch, &QCheckBox::clicked, this, &TPackRecoderFrm::OnFilterClicked);
    connect(ui->cbDisSelWatch, &QCheckBox::clicked, this, &TPackRecoderFrm::OnFilterClicked);
    connect(ui->btAdd, &QPushButton::clicked, this, &TPackRecoderFrm::OnAddWatch);
    connect(ui->btDel, &QPushButton::clicked, this, &TPackRecoderFrm::OnDeleteWatch);
    connect(ui->btClear, &QPushButton::clicked, this, &TPackRecoderFrm::OnClearWatch);
    connect(ui->actCopy, &QAction::triggered, this, &TPackRecoderFrm::OnCopy);
    connect(ui->actClear, &QAction::triggered, this, &TPackRecoderFrm::OnClearRecords);
    connect(ui->actSave, &QAction::triggered, this, &TPackRecoderFrm::OnSave);
    connect(ui->lvPack, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pmData->popup(ui->lvPack->viewport()->mapToGlobal(pos)); });
    connect(Timer1, &QTimer::timeout, this, &TPackRecoderFrm::FollowNewRecords);
}

void TPackRecoderFrm::AddRecorderTab(const std::string& name, int number) {
    // Tabs change here under program control; the window picks its direction
    // when it is shown.
    const QSignalBlocker blocker(ui->tcPackType);
    if (!m_TabsInitialised) {
        while (ui->tcPackType->count() > 0) ui->tcPackType->removeTab(0);
        m_TabsInitialised = true;
    }
    ui->tcPackType->addTab(QString::fromStdString(name));
    if (m_Manager.CreateRecorder(name, number) == nullptr) {
        GetLog()->LogError("TPackRecoderFrm::AddRecorderTab: no room for recorder %s (%d)", name.c_str(), number);
    }
}

void TPackRecoderFrm::ShowRecorder() {
    SelectDirection(ui->tsPack->currentIndex());
    RefreshControls();
    show();
    raise();
    activateWindow();
}

bool TPackRecoderFrm::FollowNewRecords() {
    if (!m_Dirty.exchange(false, std::memory_order_acq_rel)) return false;
    if (m_Direction == nullptr) return false;
    RefreshPackList();
    return true;
}

void TPackRecoderFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    SelectDirection(-1);
    RefreshControls();
}

void TPackRecoderFrm::SelectDirection(int index) {
    PackRecorder* recorder = m_Manager.GetRecorder(ui->tcPackType->currentIndex());
    if (recorder == nullptr) {
        m_Direction = nullptr;
        return;
    }
    if (index < 0) index = ui->tsPack->currentIndex();
    m_Direction = index == 1 ? &recorder->Send() : &recorder->Recv();
    m_Manager.ClearNotifyAll();
    m_Direction->SetNotify(&TPackRecoderFrm::RaiseDirtyFlag, &m_Dirty);
    m_Notified = m_Direction;
}

void TPackRecoderFrm::RefreshControls() {
    if (m_Direction == nullptr) return;
    ui->cbEnable->setChecked(m_Direction->GetEnabled());
    const int32_t mode = m_Direction->GetFilterMode();
    ui->cbSelWatch->setChecked(mode == OneWayPackRec::fmHideWatched || mode == OneWayPackRec::fmOnlyWatched);
    ui->cbDisSelWatch->setChecked(mode == OneWayPackRec::fmOnlyWatched);
    ui->cbDisSelWatch->setEnabled(ui->cbSelWatch->isChecked());
    RefreshWatchList();
    RefreshPackList();
}

void TPackRecoderFrm::RefreshWatchList() {
    if (m_Direction == nullptr) return;
    m_WatchModel->SetRowCount(m_Direction->GetWatchCount());
}

void TPackRecoderFrm::RefreshPackList() {
    if (m_Direction == nullptr) return;
    m_PackModel->SetRowCount(m_Direction->RebuildView());
}

QStringList TPackRecoderFrm::BuildPackRow(int row) const {
    if (m_Direction == nullptr) return {};
    const std::optional<tagOnePackData> record = m_Direction->GetViewItem(row);
    if (!record) return {};
    QStringList texts;
    texts.reserve(pcCount);
    texts << QString::number(record->sequence)
          << QStringLiteral("0x") + QString::number(static_cast<uint32_t>(record->sessionId), 16)
          << QString::number(record->packOrder) << QString::fromStdString(record->time)
          << QString::number(record->rawBytes.size())
          << QString::fromLatin1(record->hexText.data(),
                                 std::min<qsizetype>(static_cast<qsizetype>(record->hexText.size()), kShownHexChars));
    return texts;
}

QStringList TPackRecoderFrm::BuildWatchRow(int row) const {
    if (m_Direction == nullptr) return {};
    return {QString::fromStdString(m_Direction->GetWatch(row))};
}

void TPackRecoderFrm::OnEnableAllClicked(bool checked) {
    m_Manager.EnableAll(checked);
    RefreshControls();
}

void TPackRecoderFrm::OnEnableClicked(bool checked) {
    if (m_Direction == nullptr) return;
    m_Direction->SetEnabled(checked);
}

void TPackRecoderFrm::OnFilterClicked() {
    if (m_Direction == nullptr) return;
    const bool filter = ui->cbSelWatch->isChecked();
    ui->cbDisSelWatch->setEnabled(filter);
    int32_t mode = OneWayPackRec::fmNone;
    if (filter) mode = ui->cbDisSelWatch->isChecked() ? OneWayPackRec::fmOnlyWatched : OneWayPackRec::fmHideWatched;
    m_Direction->SetFilterMode(mode);
    RefreshPackList();
}

void TPackRecoderFrm::OnAddWatch() {
    if (m_Direction == nullptr) return;
    const std::optional<QString> text = m_AskWatchText ? m_AskWatchText() : std::nullopt;
    // The operator may have switched away while the box was open.
    if (text && m_Direction != nullptr) m_Direction->AddWatch(text->toStdString());
    RefreshWatchList();
}

void TPackRecoderFrm::OnDeleteWatch() {
    if (m_Direction == nullptr) return;
    m_Direction->DeleteWatch(SelectedRow(ui->lvAttention));
    RefreshWatchList();
}

void TPackRecoderFrm::OnClearWatch() {
    if (m_Direction == nullptr) return;
    m_Direction->ClearWatch();
    RefreshWatchList();
}

void TPackRecoderFrm::OnCopy() {
    if (m_Direction == nullptr) return;
    const int row = SelectedRow(ui->lvPack);
    if (row < 0) return;
    const std::optional<tagOnePackData> record = m_Direction->GetViewItem(row);
    if (record) QGuiApplication::clipboard()->setText(QString::fromLatin1(record->hexText));
}

void TPackRecoderFrm::OnClearRecords() {
    if (m_Direction == nullptr) return;
    m_Direction->ClearRecords(false);
    RefreshPackList();
}

void TPackRecoderFrm::OnSave() {
    if (m_Direction == nullptr) return;
    const QString path = m_AskSavePath ? m_AskSavePath() : QString();
    if (path.isEmpty() || m_Direction == nullptr) return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        GetLog()->LogError("TPackRecoderFrm::OnSave: cannot write %s: %s", path.toUtf8().constData(),
                           file.errorString().toUtf8().constData());
        return;
    }
    // The view is built once; records arriving meanwhile are not in the file.
    const int count = m_Direction->RebuildView();
    std::string block;
    block.reserve(kSaveBlockSize + 4096);
    bool written = true;
    for (int i = 0; i < count && written; ++i) {
        const std::optional<tagOnePackData> record = m_Direction->GetViewItem(i);
        if (!record) break;  // the list was emptied at its limit meanwhile
        AppendRecordLine(block, *record);
        if (block.size() >= kSaveBlockSize) {
            written = file.write(block.data(), static_cast<qint64>(block.size())) == static_cast<qint64>(block.size());
            block.clear();
        }
    }
    if (written && !block.empty()) {
        written = file.write(block.data(), static_cast<qint64>(block.size())) == static_cast<qint64>(block.size());
    }
    if (!written) {
        GetLog()->LogError("TPackRecoderFrm::OnSave: writing %s failed: %s", path.toUtf8().constData(),
                           file.errorString().toUtf8().constData());
    }
}

QString TPackRecoderFrm::AskSavePathWithDialog() {
    if (sdSave == nullptr) {
        sdSave = new QFileDialog(this);
        sdSave->setObjectName(QStringLiteral("sdSave"));
        sdSave->setAcceptMode(QFileDialog::AcceptSave);
        sdSave->setNameFilter(QStringLiteral("txt (*.txt)"));
        sdSave->setDefaultSuffix(QStringLiteral("txt"));
    }
    if (sdSave->exec() != QDialog::Accepted) return {};
    const QStringList files = sdSave->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

std::optional<QString> TPackRecoderFrm::AskWatchTextWithInputBox() {
    bool ok = false;
    const QString caption = QStringLiteral("InputWatchHexStr");
    const QString text = QInputDialog::getText(this, caption, caption, QLineEdit::Normal, QString(), &ok);
    if (!ok) return std::nullopt;
    return text;
}

void TPackRecoderFrm::RaiseDirtyFlag(void* context) {
    static_cast<std::atomic<bool>*>(context)->store(true, std::memory_order_release);
}
