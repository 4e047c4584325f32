// The main window's views as an operator reads them, on Qt's offscreen
// platform: the network parameter rows and their per-refresh differences,
// the three service lists over a running relay with peers on 127.0.0.1, the
// thread list, the log lights and the status light.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QListWidget>
#include <array>
#include <memory>

#include "ShareDefine/IOCPParamsView.h"
#include "app/ServiceListView.h"
#include "app/window/LogLights.h"
#include "app/window/OwnerDataListView.h"
#include "app/window/TfrmVarnholtWindow.h"
#include "core/ServerCore.h"
#include "infra/ThreadManager.h"
#include "infra/ThreadManagerView.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/LoopbackPeer.h"

namespace {

// A network service whose statistics the test sets.
class StatisticsService final : public INetService {
public:
    std::array<uint64_t, 64> values{};

    bool StartListen(uint16_t, int) override { return false; }
    void StopListen() override {}
    uint16_t GetListenPort() override { return 0; }
    int GetMaxClient() override { return 0; }
    QXNetClient* GetClient(int) override { return nullptr; }
    bool GetMsg(tagNetMsg*) override { return false; }
    void SetMsgNotify(NetMsgNotify, void*) override {}
    int GetMsgCount() override { return 0; }
    int GetParam(int) override { return 0; }
    int SendTo(int, const char*, int) override { return 0; }
    void Reserved10() override {}
    void Reserved11() override {}
    void CloseClient(int) override {}
    bool IsListening() override { return false; }
    void Reserved14() override {}
    uint64_t GetValue(int id) override { return (id >= 0 && id < 64) ? values[static_cast<size_t>(id)] : 0; }
    void Reserved16() override {}
    void Reserved17() override {}
    bool SetParam(int, int) override { return false; }
    int GetOnlineCount() override { return 0; }
    void Release() override {}
    int SendToMore(int, const char*, int) override { return 0; }
    bool SetIoDriver(INetIoDriver*) override { return false; }
};

std::string Cell(const OwnerDataListView& list, int row, int column) {
    return list.CellText(row, column).toStdString();
}

std::string Header(const OwnerDataListView& list, int column) {
    return list.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString();
}

TEST(ParamsViewTest, ShowsThirtyEightRowsWithLastSecondDifferences) {
    testsupport::ScopedCapturingLog log;
    StatisticsService service;
    OwnerDataListView list;
    CIOCPParamsView view(&service, &list);
    view.Prepare();
    ASSERT_EQ(list.model()->columnCount(), 1);
    EXPECT_EQ(Header(list, 0), "Param Name");

    service.values[1] = 10 * 1024 * 1024;        // received bytes
    service.values[2] = 3 * 1024 + 1000;         // sent bytes
    service.values[12] = 500;                    // popped receive messages
    service.values[13] = (1ull << 32) + 7;       // a %d shows the low 32 bits
    service.values[15] = 1000;
    service.values[37] = 9;
    view.Refresh();
    ASSERT_EQ(list.GetItemCount(), 38);
    // The first refresh counts from zero: the last second equals the totals.
    EXPECT_EQ(Cell(list, 1, 0), "+Recv Total Byte:10240 KB,Last Sec Recv Byte:10240 KB");
    EXPECT_EQ(Cell(list, 2, 0), "+Send Total Byte:3 KB,LastSecSendBYTE:3 KB");
    EXPECT_EQ(Cell(list, 12, 0), "+POP_RECV_MSG_TOTAL:500,LastPopRecvCount:500");
    EXPECT_EQ(Cell(list, 13, 0), "+POP_SEND_MSG_TOTAL:4294967303,LastPopSendCount:7");
    EXPECT_EQ(Cell(list, 15, 0), "+NETMSG_OBJPOOL_COUNT:1000[ 1.00 MB]");
    EXPECT_EQ(Cell(list, 37, 0), "+POST_ACCEPT_ERR_COUNT:9");

    // A second without traffic shows zero for the last second.
    service.values[12] = 620;
    view.Refresh();
    EXPECT_EQ(list.GetItemCount(), 38);
    EXPECT_EQ(Cell(list, 1, 0), "+Recv Total Byte:10240 KB,Last Sec Recv Byte:0 KB");
    EXPECT_EQ(Cell(list, 12, 0), "+POP_RECV_MSG_TOTAL:620,LastPopRecvCount:120");
    EXPECT_EQ(view.RowText(38), "");
}

TEST(ParamsViewTest, NullServiceOrListIsLoggedAndHarmless) {
    testsupport::ScopedCapturingLog log;
    CIOCPParamsView noService(nullptr, nullptr);
    noService.Prepare();
    noService.Refresh();
    EXPECT_EQ(log->Texts(llFatal),
              (std::vector<std::string>{"CIOCPParamsView::CIOCPParamsView  pNetService == NULL",
                                        "CIOCPParamsView::CIOCPParamsView  lvwShowControl == NULL"}));
}

// A running relay with its three listening services on free ports and the
// DataServer played by a loopback listener.
class ServiceListsTest : public ::testing::Test {
protected:
    void SetUp() override {
        core = std::make_unique<CServerCore>();
        ASSERT_TRUE(core->Start(0, 8, 0, 8, 0, 8, "127.0.0.1", dataListener.Port()));
        dataServer = dataListener.Accept();
    }
    void TearDown() override {
        core->Stop();
        core.reset();
    }
    // Connects a peer and lets the process thread create its server object.
    std::unique_ptr<nettest::LoopbackPeer> Connect(INetProcess* service) {
        const int before = service->GetServerObjCount();
        auto peer = std::make_unique<nettest::LoopbackPeer>(service->GetService()->GetListenPort());
        EXPECT_TRUE(coretest::WaitFor([&] {
            core->ProcessPackWork();
            return service->GetServerObjCount() > before;
        }));
        return peer;
    }

    testsupport::ScopedCapturingLog log;
    nettest::LoopbackListener dataListener;
    std::unique_ptr<nettest::LoopbackPeer> dataServer;
    std::unique_ptr<CServerCore> core;
};

TEST_F(ServiceListsTest, ColumnCaptionsOfTheThreeLists) {
    OwnerDataListView login, game, route;
    ServiceListView(core->GetLoginServerCore(), &login, ServiceListView::LoginServerCaptions()).Prepare();
    ServiceListView(core->GetGameServerCore(), &game, ServiceListView::GameServerCaptions()).Prepare();
    ServiceListView(core->GetRouteServerCore(), &route, ServiceListView::RouteServerCaptions()).Prepare();
    for (OwnerDataListView* list : {&login, &game, &route}) {
        ASSERT_EQ(list->model()->columnCount(), 9);
        EXPECT_EQ(Header(*list, 0), "IP");
        EXPECT_EQ(Header(*list, 1), "积压封包");
        EXPECT_EQ(Header(*list, 5), "CommitSendBuffLen(KB)");
        EXPECT_EQ(Header(*list, 8), "GetRecvIdleTime");
    }
    EXPECT_EQ(Header(login, 2), "从LoginServer接收");
    EXPECT_EQ(Header(login, 4), "RemainSendBuffLen(kB)");
    EXPECT_EQ(Header(game, 3), "发送到GameServer");
    EXPECT_EQ(Header(game, 4), "RemainSendBuffLen(KB)");
    EXPECT_EQ(Header(route, 2), "从Route接收");
    EXPECT_EQ(Header(route, 3), "发送到RouteServer");
}

TEST_F(ServiceListsTest, RowsFollowTheSlotsWithoutLosingTheSelection) {
    OwnerDataListView list;
    list.resize(800, 300);
    ServiceListView view(core->GetRouteServerCore(), &list, ServiceListView::RouteServerCaptions());
    view.Prepare();
    view.Refresh();
    EXPECT_EQ(list.GetItemCount(), 0);

    auto first = Connect(core->GetRouteServerCore());
    view.Refresh();
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(Cell(list, 0, 0), "127.0.0.1");
    EXPECT_EQ(Cell(list, 0, 1), "0");  // nothing waits in the send queue
    EXPECT_NE(Cell(list, 0, 2).find("total"), std::string::npos);
    EXPECT_EQ(Cell(list, 0, 6), "0");
    list.selectionModel()->select(list.model()->index(0, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    auto second = Connect(core->GetRouteServerCore());
    view.Refresh();
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(Cell(list, 1, 0), "127.0.0.1");
    // The tick added a row; it did not reset the list under the operator.
    EXPECT_TRUE(list.selectionModel()->isRowSelected(0, QModelIndex()));
}

TEST(ThreadListTest, OneRowPerRegisteredThreadAndErrorForAnEndedOne) {
    testsupport::ScopedCapturingLog log;
    ThreadManager& manager = ThreadManager::Instance();
    OwnerDataListView list;
    ThreadManagerView::Instance().Attach(&list);
    ASSERT_EQ(list.model()->columnCount(), 5);
    EXPECT_EQ(Header(list, 2), "CPU Useage");
    EXPECT_EQ(Header(list, 4), "Thread State");

    const int before = manager.GetCount();
    manager.AddThread("ViewTestThread", [](void*, int) { return -1; }, nullptr, false);
    ThreadManagerView::Instance().Refresh();
    ASSERT_EQ(list.GetItemCount(), before + 1);
    EXPECT_EQ(Cell(list, before, 0), "ViewTestThread");
    EXPECT_FALSE(Cell(list, before, 1).empty());

    manager.StartAll();
    ASSERT_TRUE(coretest::WaitFor([&] { return manager.GetThread(before) == nullptr; }));
    ThreadManagerView::Instance().Refresh();
    EXPECT_EQ(Cell(list, before, 0), "ERROR");
    EXPECT_EQ(Cell(list, before, 1), "");
    manager.ExitAll();
    ThreadManagerView::Instance().Attach(nullptr);
}

TEST(LogLightsTest, LightsCountByLevelAndKeepTheirColour) {
    testsupport::ScopedCapturingLog log;
    QWidget form;
    QWidget* panel = new QWidget(&form);
    LogLights lights(&*log, &form, panel);
    lights.Build();
    EXPECT_EQ(panel->width(), 268);
    EXPECT_EQ(panel->height(), 40);
    ASSERT_NE(lights.CountLabel(llWarn), nullptr);
    EXPECT_EQ(lights.CountLabel(llInfo), nullptr);

    log->LogWarn("first");
    log->LogWarn("second");
    log->LogError("broken");
    lights.Refresh();
    EXPECT_EQ(lights.CountLabel(llWarn)->text().toStdString(), "2");
    EXPECT_NE(lights.CountLabel(llWarn)->styleSheet().indexOf("#00ffff"), -1);
    EXPECT_EQ(lights.CountLabel(llError)->text().toStdString(), "1");
    EXPECT_NE(lights.CountLabel(llError)->styleSheet().indexOf("#ff4500"), -1);
    // Levels without entries stay grey with "0".
    EXPECT_EQ(lights.CountLabel(llFatal)->text().toStdString(), "0");
    EXPECT_NE(lights.CountLabel(llFatal)->styleSheet().indexOf("#aaaaaa"), -1);

    lights.SetCounts(0, 0, 0, 0, 0, 0, 3);
    EXPECT_EQ(lights.CountLabel(llWarn)->text().toStdString(), "0");
    EXPECT_NE(lights.CountLabel(llWarn)->styleSheet().indexOf("#aaaaaa"), -1);
    EXPECT_NE(lights.CountLabel(llFatal)->styleSheet().indexOf("#ff0000"), -1);
}

TEST(MainWindowTest, OneErrorTurnsTheStatusLightForTheRestOfTheRun) {
    testsupport::ScopedCapturingLog log;
    TfrmVarnholtWindow window(nullptr);
    auto* light = window.findChild<QLabel*>("lblStatusLight");
    auto* packCount = window.findChild<QLabel*>("lblPackCount");
    auto* refresh = window.findChild<QCheckBox*>("chkRefreshGUI");
    ASSERT_TRUE(light && packCount && refresh);
    EXPECT_TRUE(refresh->isChecked());

    window.SetStatusLightRunning();
    window.RefreshTick();
    EXPECT_NE(light->styleSheet().indexOf("#00ffff"), -1);
    EXPECT_EQ(packCount->text().toStdString().rfind("PackTotal : ", 0), 0u);

    log->LogError("one error");
    window.RefreshTick();
    EXPECT_NE(light->styleSheet().indexOf("#0066cc"), -1);

    // With RefreshGUI unticked the labels freeze.
    refresh->setChecked(false);
    packCount->setText("frozen");
    window.RefreshTick();
    EXPECT_EQ(packCount->text().toStdString(), "frozen");
    ReleaseServerCore();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
