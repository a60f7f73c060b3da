#pragma once
// The entries of one remote folder as the remote pane shows them: six columns (name,
// size, type, modified, attribute, description) over the parsed records, sorted with the
// listing's own comparisons.

#include "listing/RemoteFileData.h"
#include "ui/PaneFileModel.h"

#include <string>
#include <vector>

class RemoteFileModel : public PaneFileModel {
    Q_OBJECT
public:
    explicit RemoteFileModel(QObject* parent = nullptr);

    // The one place a received listing enters the pane: the folder the worker listed and
    // the listing text it received. Parsed line by line as the cache reads it; "." and
    // ".." are dropped; then sorted.
    void receiveListing(const std::string& folder, const std::string& listingText);
    // A folder's entries from anywhere else (the directory cache).
    void setEntries(const std::string& folder, std::vector<RFILE_DATA> entries);
    // Reads a list file of the directory cache; false when it cannot be read.
    bool loadListFile(const std::string& folder, const std::string& listFile);
    void clear();

    const RFILE_DATA& entry(int row) const { return m_entries[recordOf(row)]; }

private:
    const std::string& recordName(std::uint32_t record) const override { return m_entries[record].strName; }
    bool recordIsDirectory(std::uint32_t record) const override { return m_entries[record].bDirectory; }
    QVariant recordText(std::uint32_t record, int column) const override;
    QIcon recordIcon(std::uint32_t record) const override;
    void sortRecords(std::vector<std::uint32_t>& order, int column, int direction) const override;

    std::vector<RFILE_DATA> m_entries;
};
