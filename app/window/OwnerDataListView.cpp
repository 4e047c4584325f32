#include "app/window/OwnerDataListView.h"

#include <QHeaderView>
#include <algorithm>

#include "diag/window/VirtualListModel.h"

namespace {

// A row the source cannot fill is shown blank.
QStringList RowTexts(const plat::IListView::RowSource& source, int index) {
    plat::ListRow row;
    if (!source || !source(index, row)) return {};
    QStringList texts;
    texts.reserve(static_cast<int>(row.subItems.size()) + 1);
    texts.append(QString::fromStdString(row.caption));
    for (const std::string& item : row.subItems) texts.append(QString::fromStdString(item));
    return texts;
}

}  // namespace

OwnerDataListView::OwnerDataListView(QWidget* parent)
    : QTableView(parent), m_Model(new VirtualListModel({}, {}, this)) {
    setModel(m_Model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
}

void OwnerDataListView::ClearColumns() {
    m_Captions.clear();
    m_Widths.clear();
    m_Model->SetHeaders({});
}

void OwnerDataListView::AddColumn(const std::string& caption, int width) {
    m_Captions.append(QString::fromStdString(caption));
    // The widths were chosen for a narrower system font; a caption always fits.
    const int captionWidth = horizontalHeader()->fontMetrics().horizontalAdvance(m_Captions.back()) + 16;
    m_Widths.push_back(std::max(width, captionWidth));
    m_Model->SetHeaders(m_Captions);
    for (size_t column = 0; column < m_Widths.size(); ++column) {
        setColumnWidth(static_cast<int>(column), m_Widths[column]);
    }
}

void OwnerDataListView::SetRowSource(RowSource source) {
    m_Model->SetRowBuilder([source = std::move(source)](int index) { return RowTexts(source, index); });
}

void OwnerDataListView::SetItemCount(int count) { m_Model->SetRowCount(count); }

int OwnerDataListView::GetItemCount() const { return m_Model->rowCount(); }

void OwnerDataListView::Repaint() {
    m_Model->SetRowCount(m_Model->rowCount());
    viewport()->update();
}

QString OwnerDataListView::CellText(int row, int column) const {
    return m_Model->data(m_Model->index(row, column), Qt::DisplayRole).toString();
}
