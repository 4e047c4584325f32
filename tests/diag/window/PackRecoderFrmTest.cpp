// The recorder window driven as an operator would: through its widgets'
// object names and real signals, with the save dialog and the input box
// answered by the test. Each test has its own recorder manager.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QThread>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "diag/PackRecorderManager.h"
#include "diag/window/PackRecoderFrm.h"
#include "tests/support/TestFiles.h"

namespace {

class PackRecoderFrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        frm = std::make_unique<TPackRecoderFrm>(manager);
        frm->SetWatchTextPrompt([this]() -> std::optional<QString> {
            ++watchPrompts;
            if (watchAnswers.empty()) return std::nullopt;
            std::optional<QString> answer = watchAnswers.front();
            watchAnswers.pop_front();
            return answer;
        });
        frm->SetSavePathPrompt([this] {
            ++savePrompts;
            return savePath;
        });
    }

    // The four recorders as the main window creates them, the window shown.
    void OpenWithRecorders() {
        frm->AddRecorderTab("DataServer", 2);
        frm->AddRecorderTab("GameServer", 3);
        frm->AddRecorderTab("LoginServer", 4);
        frm->AddRecorderTab("RouteServer", 5);
        frm->ShowRecorder();
    }

    template <typename T>
    T* Child(const char* name) {
        T* child = frm->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QAction* MenuItem(const char* text) {
        for (QAction* action : Child<QMenu>("pmData")->actions()) {
            if (action->text() == QString::fromUtf8(text)) return action;
        }
        ADD_FAILURE() << "no menu item " << text;
        return nullptr;
    }

    QAbstractItemModel* PackRows() { return Child<QTableView>("lvPack")->model(); }
    QAbstractItemModel* WatchRows() { return Child<QTableView>("lvAttention")->model(); }
    QString PackText(int row, int column) { return PackRows()->index(row, column).data().toString(); }

    static void Add(OneWayPackRec& direction, const std::string& bytes, int32_t sessionId = 0) {
        direction.AddRecord(bytes.data(), static_cast<int>(bytes.size()), sessionId, 0);
    }

    PackRecorderManager manager;
    std::unique_ptr<TPackRecoderFrm> frm;
    std::deque<std::optional<QString>> watchAnswers;
    int watchPrompts = 0;
    QString savePath;
    int savePrompts = 0;
};

TEST_F(PackRecoderFrmTest, TabsCreateTheRecordersInOrder) {
    EXPECT_FALSE(frm->TabsInitialised());
    OpenWithRecorders();
    EXPECT_TRUE(frm->TabsInitialised());
    auto* tabs = Child<QTabBar>("tcPackType");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(3), "RouteServer");
    ASSERT_EQ(manager.GetCount(), 4);
    EXPECT_EQ(manager.GetRecorder(1)->GetNumber(), 3);
    EXPECT_EQ(manager.GetRecorder(1)->Send().GetName(), "GameServer Send");
    EXPECT_EQ(frm->windowTitle(), QString::fromUtf8("封包记录"));
}

TEST_F(PackRecoderFrmTest, FilterBoxesSetTheModeAndTheRowsShown) {
    OpenWithRecorders();
    Child<QTabBar>("tcPackType")->setCurrentIndex(1);
    OneWayPackRec& recv = manager.GetRecorder(1)->Recv();
    Child<QCheckBox>("cbEnable")->click();
    ASSERT_TRUE(recv.GetEnabled());
    Add(recv, "\x01\xAB");
    Add(recv, "\x02\xCD");
    Add(recv, "\x03\xAB");
    watchAnswers.push_back(QStringLiteral("AB"));
    Child<QPushButton>("btAdd")->click();
    frm->FollowNewRecords();
    EXPECT_EQ(PackRows()->rowCount(), 3);

    auto* sel = Child<QCheckBox>("cbSelWatch");
    auto* converse = Child<QCheckBox>("cbDisSelWatch");
    EXPECT_FALSE(converse->isEnabled());
    sel->click();
    EXPECT_EQ(recv.GetFilterMode(), OneWayPackRec::fmHideWatched);
    EXPECT_TRUE(converse->isEnabled());
    ASSERT_EQ(PackRows()->rowCount(), 1);
    EXPECT_EQ(PackText(0, 5), "02 CD ");

    converse->click();
    EXPECT_EQ(recv.GetFilterMode(), OneWayPackRec::fmOnlyWatched);
    ASSERT_EQ(PackRows()->rowCount(), 2);
    EXPECT_EQ(PackText(0, 5), "01 AB ");
    EXPECT_EQ(PackText(1, 5), "03 AB ");

    // Turning the filter off leaves the converse box checked but disabled.
    sel->click();
    EXPECT_EQ(recv.GetFilterMode(), OneWayPackRec::fmNone);
    EXPECT_FALSE(converse->isEnabled());
    EXPECT_EQ(PackRows()->rowCount(), 3);

    // The converse box kept its tick, so filtering again filters conversely.
    sel->click();
    EXPECT_EQ(recv.GetFilterMode(), OneWayPackRec::fmOnlyWatched);

    // The boxes follow the mode of the direction shown: Send has none.
    Child<QTabBar>("tsPack")->setCurrentIndex(1);
    EXPECT_FALSE(sel->isChecked());
    EXPECT_FALSE(converse->isChecked());
    EXPECT_FALSE(Child<QCheckBox>("cbEnable")->isChecked());
    EXPECT_EQ(PackRows()->rowCount(), 0);
    Child<QTabBar>("tsPack")->setCurrentIndex(0);
    EXPECT_TRUE(sel->isChecked());
    EXPECT_TRUE(converse->isChecked());
    EXPECT_TRUE(converse->isEnabled());
    EXPECT_EQ(PackRows()->rowCount(), 2);
}

TEST_F(PackRecoderFrmTest, WatchListEditingThroughTheButtons) {
    OpenWithRecorders();
    OneWayPackRec& recv = manager.GetRecorder(0)->Recv();
    watchAnswers = {QStringLiteral("AB"), std::nullopt, QStringLiteral("01 CD")};
    for (int i = 0; i < 3; ++i) Child<QPushButton>("btAdd")->click();
    EXPECT_EQ(watchPrompts, 3);
    ASSERT_EQ(recv.GetWatchCount(), 2);  // the cancelled box added nothing
    ASSERT_EQ(WatchRows()->rowCount(), 2);
    EXPECT_EQ(WatchRows()->columnCount(), 1);
    EXPECT_EQ(WatchRows()->index(1, 0).data().toString(), "01 CD");

    auto* list = Child<QTableView>("lvAttention");
    list->selectionModel()->clearSelection();
    Child<QPushButton>("btDel")->click();  // nothing selected
    EXPECT_EQ(recv.GetWatchCount(), 2);

    list->selectRow(0);
    Child<QPushButton>("btDel")->click();
    ASSERT_EQ(recv.GetWatchCount(), 1);
    EXPECT_EQ(recv.GetWatch(0), "01 CD");
    EXPECT_EQ(WatchRows()->rowCount(), 1);
    EXPECT_EQ(WatchRows()->index(0, 0).data().toString(), "01 CD");

    Child<QPushButton>("btClear")->click();
    EXPECT_EQ(recv.GetWatchCount(), 0);
    EXPECT_EQ(WatchRows()->rowCount(), 0);
}

TEST_F(PackRecoderFrmTest, SaveWithOnlyWatchedAndNoWatchStringWritesAnEmptyFile) {
    OpenWithRecorders();
    OneWayPackRec& recv = manager.GetRecorder(0)->Recv();
    recv.SetEnabled(true);
    Add(recv, "\x01\xAB");
    Child<QCheckBox>("cbSelWatch")->click();
    Child<QCheckBox>("cbDisSelWatch")->click();
    ASSERT_EQ(recv.GetFilterMode(), OneWayPackRec::fmOnlyWatched);

    testsupport::TempDir dir;
    savePath = QString::fromStdString(dir / "out.txt");
    MenuItem("输出")->trigger();
    ASSERT_TRUE(std::filesystem::exists(dir / "out.txt"));
    EXPECT_EQ(std::filesystem::file_size(dir / "out.txt"), 0u);

    savePath.clear();  // cancelled dialog
    std::filesystem::remove(dir / "out.txt");
    MenuItem("输出")->trigger();
    EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
}

TEST_F(PackRecoderFrmTest, SaveWritesOneLinePerVisibleRecordInViewOrder) {
    OpenWithRecorders();
    Child<QTabBar>("tsPack")->setCurrentIndex(1);
    OneWayPackRec& send = manager.GetRecorder(0)->Send();
    send.SetEnabled(true);
    Add(send, "\x01\xAB", 0x1F);
    Add(send, "\x02", 7);
    Add(send, std::string("\x00\xAB\xFF", 3), -2);
    watchAnswers.push_back(QStringLiteral("AB"));
    Child<QPushButton>("btAdd")->click();
    Child<QCheckBox>("cbSelWatch")->click();
    Child<QCheckBox>("cbDisSelWatch")->click();

    testsupport::TempDir dir;
    savePath = QString::fromStdString(dir / "send.txt");
    MenuItem("输出")->trigger();
    const std::string time1 = send.GetViewItem(0)->time;
    const std::string time3 = send.GetViewItem(1)->time;
    EXPECT_EQ(testsupport::ReadAll(dir / "send.txt"),
              "1 [" + time1 + "] [0x1f:0](2) 01 AB \n" + "3 [" + time3 + "] [0xfffffffe:0](3) 00 AB FF \n");
}

TEST_F(PackRecoderFrmTest, PackRowsShowTheRecordFields) {
    OpenWithRecorders();
    Child<QTabBar>("tsPack")->setCurrentIndex(1);
    OneWayPackRec& send = manager.GetRecorder(0)->Send();
    send.SetEnabled(true);
    Add(send, "\x05", 1);
    Add(send, "\x01\xAB", 0xBEEF);
    ASSERT_TRUE(frm->FollowNewRecords());
    ASSERT_EQ(PackRows()->rowCount(), 2);
    ASSERT_EQ(PackRows()->columnCount(), 6);
    const char* headers[] = {"序号", "SessionID", "PackOrder", "时间", "长度", "信息"};
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(PackRows()->headerData(column, Qt::Horizontal).toString(), QString::fromUtf8(headers[column]));
    }
    EXPECT_EQ(PackText(1, 0), "2");
    EXPECT_EQ(PackText(1, 1), "0xbeef");
    EXPECT_EQ(PackText(1, 2), "0");
    EXPECT_EQ(PackText(1, 3), QString::fromStdString(send.GetViewItem(1)->time));
    EXPECT_EQ(PackText(1, 4), "2");
    EXPECT_EQ(PackText(1, 5), "01 AB ");
    EXPECT_EQ(Child<QTableView>("lvPack")->horizontalHeader()->sectionSize(3), 80);
    EXPECT_EQ(Child<QTableView>("lvPack")->horizontalHeader()->sectionSize(5), 600);
}

TEST_F(PackRecoderFrmTest, SelectingSendMovesTheNotificationAwayFromRecv) {
    OpenWithRecorders();
    PackRecorder* data = manager.GetRecorder(0);
    data->Recv().SetEnabled(true);
    data->Send().SetEnabled(true);
    Add(data->Recv(), "\x01");
    EXPECT_TRUE(frm->FollowNewRecords());
    EXPECT_FALSE(frm->FollowNewRecords());  // the tick lowered the flag

    Child<QTabBar>("tsPack")->setCurrentIndex(1);
    Add(data->Recv(), "\x02");
    EXPECT_FALSE(frm->FollowNewRecords());
    Add(data->Send(), "\x03");

    // Timer1 itself picks the Send record up.
    QElapsedTimer waited;
    waited.start();
    while (PackRows()->rowCount() == 0 && waited.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    ASSERT_EQ(PackRows()->rowCount(), 1);
    EXPECT_EQ(PackText(0, 5), "03 ");
}

TEST_F(PackRecoderFrmTest, NewRowsKeepTheSelectionAndScrollPosition) {
    OpenWithRecorders();
    OneWayPackRec& recv = manager.GetRecorder(0)->Recv();
    recv.SetEnabled(true);
    for (int i = 0; i < 200; ++i) Add(recv, "\x11");
    frm->FollowNewRecords();
    auto* view = Child<QTableView>("lvPack");
    QCoreApplication::processEvents();
    view->selectRow(120);
    view->scrollTo(PackRows()->index(120, 0), QAbstractItemView::PositionAtTop);
    const int scrolled = view->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);

    for (int i = 0; i < 100; ++i) Add(recv, "\x22");
    ASSERT_TRUE(frm->FollowNewRecords());
    QCoreApplication::processEvents();
    EXPECT_EQ(PackRows()->rowCount(), 300);
    EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), 120);

    MenuItem("复制")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "11 ");

    // "清空" keeps the counter: the next record goes on from 301.
    MenuItem("清空")->trigger();
    EXPECT_EQ(PackRows()->rowCount(), 0);
    Add(recv, "\x33");
    frm->FollowNewRecords();
    ASSERT_EQ(PackRows()->rowCount(), 1);
    EXPECT_EQ(PackText(0, 0), "301");
}

TEST_F(PackRecoderFrmTest, WithoutARecorderTabTheControlsChangeNothing) {
    // A recorder exists, but the window has no tab for it.
    PackRecorder* other = manager.CreateRecorder("DataServer", 2);
    other->Recv().AddWatch("AB");
    frm->show();
    watchAnswers.push_back(QStringLiteral("CD"));
    savePath = QStringLiteral("/nonexistent-folder/out.txt");

    for (const char* box : {"cbEnable", "cbSelWatch", "cbDisSelWatch"}) Child<QCheckBox>(box)->click();
    for (const char* button : {"btAdd", "btDel", "btClear"}) Child<QPushButton>(button)->click();
    for (const char* item : {"复制", "清空", "输出"}) MenuItem(item)->trigger();
    Child<QTabBar>("tsPack")->setCurrentIndex(1);
    EXPECT_FALSE(frm->FollowNewRecords());

    EXPECT_EQ(watchPrompts, 0);
    EXPECT_EQ(savePrompts, 0);
    for (OneWayPackRec* direction : {&other->Recv(), &other->Send()}) {
        EXPECT_FALSE(direction->GetEnabled());
        EXPECT_EQ(direction->GetFilterMode(), OneWayPackRec::fmNone);
    }
    EXPECT_EQ(other->Recv().GetWatchCount(), 1);
    EXPECT_EQ(PackRows()->rowCount(), 0);
    EXPECT_EQ(WatchRows()->rowCount(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
