#include "ui/SearchResultModel.h"

#include "ui/DisplayText.h"

#include <QTextDocument>

int SearchResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_urls.size());
}

int SearchResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant SearchResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return DisplayText(m_urls[static_cast<std::size_t>(index.row())]);
    // A tool tip takes text that looks like markup for rich text: the URL (made of names
    // from servers) is handed over escaped, so it reads exactly as it is.
    if (role == Qt::ToolTipRole)
        return Qt::convertFromPlainText(DisplayText(m_urls[static_cast<std::size_t>(index.row())]), Qt::WhiteSpaceNoWrap);
    return {};
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return QStringLiteral("URL");
    return QAbstractTableModel::headerData(section, orientation, role);
}

void SearchResultModel::append(std::vector<std::string>&& urls)
{
    if (urls.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(urls.size()) - 1);
    m_urls.insert(m_urls.end(), std::make_move_iterator(urls.begin()), std::make_move_iterator(urls.end()));
    endInsertRows();
}

void SearchResultModel::clear()
{
    if (m_urls.empty())
        return;
    beginResetModel();
    std::deque<std::string>().swap(m_urls);
    endResetModel();
}
