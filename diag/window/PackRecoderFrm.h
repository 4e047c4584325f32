// The packet recorder window: one tab per recorder, a Recv/Send switch, the
// recorded packets of the chosen direction in a virtual list that follows new
// traffic within 10 ms, a watch list of hexadecimal substrings for filtering,
// and copy, clear and save-to-text commands.
//
// Everything here runs on the GUI thread. The only contact with the network
// threads is the dirty flag: the current direction's notification raises it
// while a packet is being recorded, and Timer1 lowers it and refreshes the
// list. The recorders belong to the manager and outlive the window; the
// window removes its notification when it is destroyed.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class OneWayPackRec;
class PackRecorderManager;
class QFileDialog;
class QMenu;
class QShowEvent;
class QTimer;
class VirtualListModel;

namespace Ui {
class TPackRecoderFrm;
}

class TPackRecoderFrm : public QWidget {
    Q_OBJECT

public:
    // Works on the process-wide PackRecorderManager.
    explicit TPackRecoderFrm(QWidget* parent = nullptr);
    // Works on the given manager, which must outlive the window.
    explicit TPackRecoderFrm(PackRecorderManager& manager, QWidget* parent = nullptr);
    ~TPackRecoderFrm() override;

    // Adds a tab for a new recorder and creates it in the manager. The first
    // call empties the tab row and marks the tabs as initialised.
    void AddRecorderTab(const std::string& name, int number);
    bool TabsInitialised() const { return m_TabsInitialised; }
    void ShowRecorder();

    // What Timer1 does every 10 ms: when new records were announced, refresh
    // the packet list. Returns whether it refreshed. Public so that a test or
    // a benchmark can run one tick without waiting for the timer.
    bool FollowNewRecords();

    // The two modal questions the window asks. By default a save dialog and
    // an input box; replaced where no one can answer them. An empty path or
    // nullopt means the operator cancelled.
    using SavePathPrompt = std::function<QString()>;
    using WatchTextPrompt = std::function<std::optional<QString>()>;
    void SetSavePathPrompt(SavePathPrompt prompt) { m_AskSavePath = std::move(prompt); }
    void SetWatchTextPrompt(WatchTextPrompt prompt) { m_AskWatchText = std::move(prompt); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SetUpLists();
    void ConnectEvents();

    // index: 0 Recv, 1 Send, -1 whichever tsPack shows.
    void SelectDirection(int index);
    void RefreshControls();
    void RefreshWatchList();
    void RefreshPackList();
    QStringList BuildPackRow(int row) const;
    QStringList BuildWatchRow(int row) const;

    void OnEnableAllClicked(bool checked);
    void OnEnableClicked(bool checked);
    void OnFilterClicked();
    void OnAddWatch();
    void OnDeleteWatch();
    void OnClearWatch();
    void OnCopy();
    void OnClearRecords();
    void OnSave();

    QString AskSavePathWithDialog();
    std::optional<QString> AskWatchTextWithInputBox();
    static void RaiseDirtyFlag(void* context);

    std::unique_ptr<Ui::TPackRecoderFrm> ui;
    PackRecorderManager& m_Manager;
    OneWayPackRec* m_Direction = nullptr;  // not owned; null while there is none
    OneWayPackRec* m_Notified = nullptr;   // the direction whose notification raises m_Dirty
    std::atomic<bool> m_Dirty{false};
    bool m_TabsInitialised = false;

    VirtualListModel* m_PackModel = nullptr;   // owned by this window as QObject parent
    VirtualListModel* m_WatchModel = nullptr;  // likewise
    QMenu* pmData = nullptr;
    QTimer* Timer1 = nullptr;
    QFileDialog* sdSave = nullptr;  // made when first needed

    SavePathPrompt m_AskSavePath;
    WatchTextPrompt m_AskWatchText;
};
