#pragma once
// The offline search's results: one row per matching cache entry, its ftp URL. Rows arrive
// in batches from the search thread (through OfflineSearchRun) and are only appended, so
// a list of millions stays cheap to grow and to show.

#include <QAbstractTableModel>
#include <QSize>

#include <string>
#include <vector>

class SearchResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The URL of a row as the engine's bytes (the displayed text is its UTF-8 reading).
    const std::string& url(int row) const { return m_urls[static_cast<std::size_t>(row)]; }
    void append(std::vector<std::string>&& urls);
    // The size every row reports: one row height, and a width wide enough to scroll long
    // URLs into view (the views ask the first row only, which keeps millions cheap).
    void setRowSize(QSize size) { m_rowSize = size; }
    void clear();

private:
    std::vector<std::string> m_urls;
    QSize m_rowSize;
};
