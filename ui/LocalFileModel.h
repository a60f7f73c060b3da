#pragma once
// The entries of one local folder as the local pane shows them: four columns (name, size,
// type, modified) over the records the folder reader returns, sorted with the listing's
// comparisons.

#include "listing/RemoteFileData.h"
#include "ui/PaneFileModel.h"

#include <string>
#include <vector>

class LocalFileModel : public PaneFileModel {
    Q_OBJECT
public:
    explicit LocalFileModel(QObject* parent = nullptr);

    void setEntries(const std::string& folder, std::vector<FILE_DATA> entries);

    const FILE_DATA& entry(int row) const { return m_entries[recordOf(row)]; }

private:
    const std::string& recordName(std::uint32_t record) const override { return m_entries[record].strName; }
    bool recordIsDirectory(std::uint32_t record) const override { return m_entries[record].bDirectory; }
    QVariant recordText(std::uint32_t record, int column) const override;
    QIcon recordIcon(std::uint32_t record) const override;
    void sortRecords(std::vector<std::uint32_t>& order, int column, int direction) const override;

    std::vector<FILE_DATA> m_entries;
    QIcon m_linkIcon;
};
