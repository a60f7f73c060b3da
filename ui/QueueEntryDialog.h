#pragma once
// "Queue Entry Properties": the fields of one queue entry the user may change. The dialog
// shows a copy; the queue view writes the values back only if the entry is still queued
// when OK is pressed (QueueEntryFields::applyTo through QueueAccess::edit).

#include "session/QueueEntry.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// The six values the dialog edits; usable without a window.
struct QueueEntryFields {
    std::string localPath;
    std::string remotePath;
    std::string pattern;
    int operation = QUEUE_DOWNLOAD;
    bool updateOnly = false;
    bool includeSubdirectories = true;

    static QueueEntryFields From(const CQueueEntry& entry);
    // Writes the values into the entry; an empty pattern becomes "*".
    void applyTo(CQueueEntry& entry) const;
};

class QueueEntryDialog : public QDialog {
    Q_OBJECT
public:
    explicit QueueEntryDialog(const QueueEntryFields& fields, QWidget* parent = nullptr);

    QueueEntryFields fields() const;

    QLineEdit* localPathEdit() const { return m_localPath; }
    QLineEdit* remotePathEdit() const { return m_remotePath; }
    QLineEdit* patternEdit() const { return m_pattern; }

private:
    QLineEdit* m_localPath;
    QLineEdit* m_remotePath;
    QLineEdit* m_pattern;
    QRadioButton* m_operations[4];
    QCheckBox* m_updateOnly;
    QCheckBox* m_subdirectories;
};
