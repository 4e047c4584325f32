// The owner-data report list of the desktop window: a table view over a
// virtual model that asks the row source for the rows the view is about to
// paint and changes its row count at the end, never by a reset, so the
// selection and the scroll position survive every tick. Window thread only.
#pragma once

#include <QStringList>
#include <QTableView>

#include "platform/ListView.h"

class VirtualListModel;

class OwnerDataListView : public QTableView, public plat::IListView {
    Q_OBJECT

public:
    explicit OwnerDataListView(QWidget* parent = nullptr);

    void ClearColumns() override;
    void AddColumn(const std::string& caption, int width) override;
    void SetRowSource(RowSource source) override;
    void SetItemCount(int count) override;
    int GetItemCount() const override;
    void Repaint() override;

    // Text of one cell as the list shows it (column 0 is the row's caption).
    QString CellText(int row, int column) const;

private:
    VirtualListModel* m_Model;  // owned by the view
    QStringList m_Captions;
    std::vector<int> m_Widths;
};
