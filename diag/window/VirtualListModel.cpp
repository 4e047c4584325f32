#include "diag/window/VirtualListModel.h"

#include <utility>

VirtualListModel::VirtualListModel(QStringList headers, RowBuilder builder, QObject* parent)
    : QAbstractTableModel(parent), m_Headers(std::move(headers)), m_Builder(std::move(builder)) {}

void VirtualListModel::SetHeaders(QStringList headers) {
    beginResetModel();
    m_Headers = std::move(headers);
    m_Cache.clear();
    endResetModel();
}

void VirtualListModel::SetRowBuilder(RowBuilder builder) {
    m_Builder = std::move(builder);
    m_Cache.clear();
    if (m_RowCount > 0) emit dataChanged(index(0, 0), index(m_RowCount - 1, columnCount() - 1), {Qt::DisplayRole});
}

void VirtualListModel::SetRowCount(int count) {
    if (count < 0) count = 0;
    m_Cache.clear();
    if (count > m_RowCount) {
        beginInsertRows(QModelIndex(), m_RowCount, count - 1);
        m_RowCount = count;
        endInsertRows();
    } else if (count < m_RowCount) {
        beginRemoveRows(QModelIndex(), count, m_RowCount - 1);
        m_RowCount = count;
        endRemoveRows();
    }
    // Rows that stayed may now stand for other records (a cleared and refilled
    // list, a rebuilt filter view). A range wider than one cell makes the views
    // repaint their viewport only, whatever the row count.
    if (m_RowCount > 0) emit dataChanged(index(0, 0), index(m_RowCount - 1, columnCount() - 1), {Qt::DisplayRole});
}

int VirtualListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_RowCount; }

int VirtualListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_Headers.size());
}

QVariant VirtualListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_RowCount) return {};
    const QStringList& texts = RowTexts(index.row());
    if (index.column() >= texts.size()) return QString();
    return texts.at(index.column());
}

QVariant VirtualListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= m_Headers.size()) {
        return {};
    }
    return m_Headers.at(section);
}

Qt::ItemFlags VirtualListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

const QStringList& VirtualListModel::RowTexts(int row) const {
    auto cached = m_Cache.constFind(row);
    if (cached != m_Cache.constEnd()) return *cached;
    if (m_Cache.size() >= kMaxCachedRows) m_Cache.clear();
    return *m_Cache.insert(row, m_Builder ? m_Builder(row) : QStringList());
}
