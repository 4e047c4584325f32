// ThreadManagerView: the row model of the thread list on the main window's
// thread tab, five columns per registered thread. It reads ThreadManager and
// holds no rows itself; the list widget asks for row texts on demand. Used
// on the window thread only. One instance, created on first use.
#pragma once

#include <array>
#include <string>
#include <vector>

class ThreadManager;

namespace plat {
class IListView;
}

struct ThreadViewRow {
    std::string caption;
    // Thread ID, CPU usage, kernel CPU usage, state; empty for an "ERROR" row.
    std::vector<std::string> subItems;
};

class ThreadManagerView {
public:
    static constexpr int kColumnCount = 5;
    static constexpr int kColumnWidth = 100;

    static ThreadManagerView& Instance();

    explicit ThreadManagerView(const ThreadManager& manager);

    static const std::array<const char*, kColumnCount>& ColumnCaptions();
    // Remembers the list (nothing more when null), gives it the five
    // columns and makes it ask this view for its rows.
    void Attach(plat::IListView* listView);
    // One row per registered thread, without rebuilding every row.
    void Refresh();
    // The list's item count: one row per registered thread.
    int GetRowCount() const;
    // Row texts for index; caption "ERROR" and nothing else when the thread
    // is unknown or has ended.
    ThreadViewRow GetRow(int index) const;

private:
    const ThreadManager& m_Manager;
    plat::IListView* m_ListView = nullptr;  // the window's list; not owned
};
