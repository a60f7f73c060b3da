#pragma once
// "Paste URL": the ftp URLs (from the clipboard, or typed) to download into a local
// folder, one per line, with "Add to Queue Only", "Force New Session" (a new connection
// even when the site is open already) and whether each URL names a file or a folder
// (a folder is downloaded with everything beneath it).

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QPlainTextEdit;
class QRadioButton;

class PanePasteUrlDialog : public QDialog {
    Q_OBJECT
public:
    PanePasteUrlDialog(const QStringList& urls, QWidget* parent = nullptr);

    // The non-empty lines of the edit field, trimmed.
    QStringList urls() const;
    bool queueOnly() const;
    bool forceNewSession() const;
    bool isFolder() const;

    QPlainTextEdit* urlField() const { return m_urls; }
    QCheckBox* queueOnlyBox() const { return m_queueOnly; }
    QCheckBox* forceNewSessionBox() const { return m_forceNew; }
    QRadioButton* fileButton() const { return m_file; }
    QRadioButton* folderButton() const { return m_folder; }

private:
    QPlainTextEdit* m_urls;
    QCheckBox* m_queueOnly;
    QCheckBox* m_forceNew;
    QRadioButton* m_file;
    QRadioButton* m_folder;
};
