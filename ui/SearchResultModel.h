#pragma once
// The offline search's results: one row per matching cache entry, its ftp URL. Rows arrive
// in batches from the search thread (through OfflineSearchRun) and are only appended, so
// a list of millions stays cheap to grow and to show.

#include <QAbstractTableModel>

#include <deque>
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
    void clear();

private:
    std::deque<std::string> m_urls; // grows without moving the rows already there
};
