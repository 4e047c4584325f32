// CIOCPParamsView: the 38 statistics of one listening service's network
// service as text rows of an owner-data list, with four running totals
// (bytes received and sent, messages popped each way) also shown as their
// difference since the last refresh. The window refreshes once a second,
// so those differences read as last-second values. Window thread only.
#pragma once

#include <cstdint>
#include <string>

class INetService;

namespace plat {
class IListView;
}

class CIOCPParamsView {
public:
    static constexpr int kRowCount = 38;
    static constexpr int kColumnWidth = 640;

    // Neither pointer is owned; a null one is logged and leaves the view
    // inert on that side.
    CIOCPParamsView(INetService* netService, plat::IListView* listView);
    virtual ~CIOCPParamsView();
    CIOCPParamsView(const CIOCPParamsView&) = delete;
    CIOCPParamsView& operator=(const CIOCPParamsView&) = delete;

    // One column "Param Name"; rows are asked from RowText.
    void Prepare();
    // Takes the differences of the four totals, then shows 38 rows.
    void Refresh();
    // Row index = statistic number, 0 to 37.
    std::string RowText(int index) const;

private:
    uint64_t m_PrevPopRecv = 0;
    uint64_t m_PrevPopSend = 0;
    uint64_t m_PrevRecv = 0;
    uint64_t m_PrevSend = 0;
    uint64_t m_RecvDiff = 0;
    uint64_t m_SendDiff = 0;
    uint64_t m_PopRecvDiff = 0;
    uint64_t m_PopSendDiff = 0;
    INetService* m_NetService;
    plat::IListView* m_ListView;
};
