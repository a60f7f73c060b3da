#pragma once
// "Queue Entry Properties": the fields of one queue entry the user may change. The dialog
// shows a copy; the queue view writes the values back only if the entry is still queued
// when OK is pressed (QueueEntryFields::applyTo through QueueAccess::edit).
//
// Names are bytes and need not be UTF-8: the fields show such bytes as \xNN (EditableText).
// A field the user left alone gives back its original bytes; a changed one is read back
// exactly, \xNN becoming that byte. OK refuses values a queue file cannot hold (a tab, a
// line break or a NUL byte), so an edit never costs the entry its place in "autosave.tvq".

#include "session/QueueEntry.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
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
    // The values can be written as a queue-file line.
    bool storable() const;
};

class QueueEntryDialog : public QDialog {
    Q_OBJECT
public:
    explicit QueueEntryDialog(const QueueEntryFields& fields, QWidget* parent = nullptr);

    QueueEntryFields fields() const;
    // OK: accepted only when the values are storable; otherwise the dialog says why and
    // stays open.
    void accept() override;

    QLineEdit* localPathEdit() const { return m_localPath; }
    QLineEdit* remotePathEdit() const { return m_remotePath; }
    QLineEdit* patternEdit() const { return m_pattern; }
    QLabel* problemLabel() const { return m_problem; }

private:
    // The field's bytes: the original ones while its text is the one first shown.
    static std::string Bytes(const QLineEdit* edit, const std::string& original);

    QueueEntryFields m_original;
    QLineEdit* m_localPath;
    QLineEdit* m_remotePath;
    QLineEdit* m_pattern;
    QRadioButton* m_operations[4];
    QCheckBox* m_updateOnly;
    QCheckBox* m_subdirectories;
    QLabel* m_problem;
};
