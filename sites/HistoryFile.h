#pragma once
// The address and path histories ("urlhis.txt", "pathhis.txt"): one entry a line, in the
// order first used; the list a box shows; and the cut-back at start-up.

#include <string>
#include <vector>

// Shown after the message of a fatal start-up error, before the program ends.
extern const char kFatalErrorText[];

class HistoryList {
public:
    // Sorted: the address box, kept in alphabetical order. NewestFirst: the path box,
    // each new entry at the top.
    enum class Order { Sorted, NewestFirst };

    HistoryList(std::string filePath, Order order);

    // Empties the list and fills it from the file: each line trimmed, empty lines and
    // repeats (without regard to case) skipped. A file that cannot be read gives an empty list.
    void LoadHistory();

    // Trims the text; adds it to the list and the file unless it is empty or already listed
    // (without regard to case). Returns whether it was added. When the file cannot be
    // written the list keeps the entry and LastWriteFailed() tells.
    bool AddToHistory(const std::string& text);

    // Index of the entry equal to `text` without regard to case, or -1.
    int Find(const std::string& text) const;

    const std::vector<std::string>& Entries() const { return m_entries; }
    bool LastWriteFailed() const { return m_lastWriteFailed; }

private:
    void Insert(const std::string& entry);
    bool AppendToFile(const std::string& entry);

    std::string m_filePath;
    Order m_order;
    std::vector<std::string> m_entries;
    bool m_lastWriteFailed = false;
};

struct PruneResult {
    bool ok = true;
    std::string message; // the fatal error when !ok
};

// Cuts a history file longer than 10000 bytes down to the whole lines of its last 8000
// bytes, through "~tmphis.txt" in the data folder.
PruneResult PruneHistoryFile(const std::string& historyPath, const std::string& dataFolder);
