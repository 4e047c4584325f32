// A report-style list control whose rows are supplied on demand (owner
// data): the list asks for the texts of the rows it is about to show, so a
// list of many rows costs no more than its visible ones. Read-only, whole-row
// selection, grid lines. The desktop window implements it over its item
// views; views of the server's state fill it without knowing the toolkit.
// Window thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace plat {

struct ListRow {
    std::string caption;
    std::vector<std::string> subItems;
};

class IListView {
public:
    // Fills the row at index; false leaves the row as it was.
    using RowSource = std::function<bool(int index, ListRow& row)>;

    virtual ~IListView() = default;

    virtual void ClearColumns() = 0;
    virtual void AddColumn(const std::string& caption, int width) = 0;
    virtual void SetRowSource(RowSource source) = 0;
    // Changes the number of rows without scrolling and without rebuilding
    // the rows already known.
    virtual void SetItemCount(int count) = 0;
    virtual int GetItemCount() const = 0;
    // Asks for the visible rows again.
    virtual void Repaint() = 0;
};

}  // namespace plat
