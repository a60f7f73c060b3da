#pragma once
// What the file panes show of an entry and how they order entries: the size text, the
// type text, the column comparisons and the column-click rule. Shared by the remote
// pane, the local pane and the queue view.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "listing/RemoteFileData.h"

// Columns of the remote pane; the local pane has the first four.
enum PaneColumn : int {
    COLUMN_NAME = 0,
    COLUMN_SIZE = 1,
    COLUMN_TYPE = 2,
    COLUMN_MODIFIED = 3,
    COLUMN_ATTRIBUTE = 4,
    COLUMN_DESCRIPTION = 5,
};
inline constexpr int kRemoteColumnCount = 6;
inline constexpr int kLocalColumnCount = 4;

inline constexpr std::string_view kDirectoryTypeText = "<DIR>";

// "1,234,567"; ">4GB" when the high half is set.
std::string FormatFileSize(std::uint32_t high, std::uint32_t low);

// The text after the last "." of a name; empty without one, or when the last "." lies
// before the last path separator.
std::string NameExtension(std::string_view name);

// The "Type" column: "<DIR>" for a directory, else the extension.
std::string EntryTypeText(std::string_view name, bool isDirectory);

// Order of two entries by a column with direction +1 (ascending) or -1 (descending):
// negative when a comes first. By name, directories come before files when ascending.
int CompareRemoteEntries(const RFILE_DATA& a, const RFILE_DATA& b, int column, int direction);
int CompareLocalEntries(const FILE_DATA& a, const FILE_DATA& b, int column, int direction);

// One sort direction per column: +1, -1, or 0 for the columns not sorted by. At most one
// column is non-zero; a new pane sorts by name ascending.
template <int ColumnCount>
class CSortDirections {
public:
    CSortDirections() { m_directions[COLUMN_NAME] = 1; }

    // A click on a column sorts by it ascending, or reverses it when it is already the
    // sort column; every other column is cleared.
    void ColumnClick(int column)
    {
        if (column < 0 || column >= ColumnCount)
            return;
        const int next = m_directions[column] == 0 ? 1 : -m_directions[column];
        m_directions.fill(0);
        m_directions[column] = next;
    }

    int Direction(int column) const
    {
        return column >= 0 && column < ColumnCount ? m_directions[column] : 0;
    }

    // The sort column, or -1 when none is set.
    int SortColumn() const
    {
        for (int column = 0; column < ColumnCount; ++column)
            if (m_directions[column] != 0)
                return column;
        return -1;
    }

private:
    std::array<int, ColumnCount> m_directions{};
};
