// A read-only table whose rows exist only as a count until a view asks for
// them: the owner says how many rows there are, and a row builder makes the
// texts of one row on demand. The recorder window shows up to 100000 packets
// this way. SetRowCount changes the count by inserting or removing the
// difference at the end, never by a reset, so the view keeps its selection
// and scroll position while new rows arrive. The texts of a row are built once
// per refresh and cached, as a repaint asks for every cell of a row in turn.
// GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>
#include <functional>

class VirtualListModel : public QAbstractTableModel {
public:
    // Returns the texts of one row, one per column; fewer leave the rest
    // empty, and an empty list leaves the row blank.
    using RowBuilder = std::function<QStringList(int row)>;

    VirtualListModel(QStringList headers, RowBuilder builder, QObject* parent = nullptr);

    // Lists whose columns are set after creation (the main window's lists).
    void SetHeaders(QStringList headers);
    void SetRowBuilder(RowBuilder builder);

    // The refresh: the row count becomes count and every row shown so far is
    // marked for rebuilding.
    void SetRowCount(int count);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const QStringList& RowTexts(int row) const;

    // A screenful is a few dozen rows; the bound only matters when someone
    // scrolls through many thousands of rows between two refreshes.
    static constexpr int kMaxCachedRows = 1024;

    QStringList m_Headers;
    RowBuilder m_Builder;
    int m_RowCount = 0;
    mutable QHash<int, QStringList> m_Cache;
};
