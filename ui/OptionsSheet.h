#pragma once
// The options sheet ("Settings"): five pages over the settings table. The pages show the
// table as it is when the sheet opens; OK stores them all into the table at once (through
// ApplySettingsTable) and writes it to the store, Cancel changes nothing.

#include "sites/SharedSettings.h"
#include "sites/SettingsStore.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QSpinBox;
class QTabWidget;

class OptionsSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxTimeout = 1000;   // seconds; a transfer needs at least 1
    static constexpr int kMaxRetry = 32767;

    // `settings` holds the program's table; `store` (may be null) where it is kept.
    OptionsSheet(CSharedSettings& settings, ISettingsStore* store, QWidget* parent = nullptr);

    // Shows `table` on the pages.
    void load(const CSettings& table);
    // Stores the pages' values into `table`, leaving the settings without a control as
    // they are. An empty viewer stores the default viewer.
    void storeInto(CSettings& table) const;

    // The "File Type" page's "Add": the reason when `extension` cannot be added, else empty.
    static QString extensionRefusal(const QStringList& listed, const QString& extension);
    // "TextFileExtension" split into the extensions it lists, and back.
    static QStringList splitExtensions(const std::string& value);
    static std::string joinExtensions(const QStringList& extensions);

    QTabWidget* pages() const { return m_pages; }

    // The plain-text help of a page (by its index), shown by "Help" and F1.
    static QString pageHelp(int page);
    // Opens the help of the current page beside the sheet, or turns the open one to it.
    void showHelp();
    QMessageBox* helpWindow() const;

public slots:
    void accept() override;

private:
    QWidget* createGeneralPage();
    QWidget* createTransferPage();
    QWidget* createFileTypePage();
    QWidget* createPromptPage();
    QWidget* createOverwritePage();
    void addExtension();
    void removeExtension();
    void browseFolder(QLineEdit* target, const QString& title);
    void browseViewer();
    QStringList listedExtensions() const;

    CSharedSettings& m_settings;
    ISettingsStore* m_store;
    QTabWidget* m_pages = nullptr;
    QPointer<QMessageBox> m_help;

    // General
    QCheckBox* m_keepAlive = nullptr;
    QSpinBox* m_antiIdleInterval = nullptr;
    QLineEdit* m_defaultLocalDirectory = nullptr;
    QCheckBox* m_saveLocalDir = nullptr;
    QCheckBox* m_enableCache = nullptr;
    QLineEdit* m_cacheHome = nullptr;
    QLineEdit* m_viewer = nullptr;
    // Transfer
    QCheckBox* m_saveQueue = nullptr;
    QCheckBox* m_alwaysRetry = nullptr;
    QSpinBox* m_errorRetry = nullptr;
    QSpinBox* m_retryDelay = nullptr;
    QSpinBox* m_fileRetry = nullptr;
    QCheckBox* m_autoReset = nullptr;
    QSpinBox* m_timeout = nullptr;
    // File Type
    QListWidget* m_extensions = nullptr;
    QLineEdit* m_newExtension = nullptr;
    QCheckBox* m_checkContent = nullptr;
    QSpinBox* m_previewLen = nullptr;
    // Prompt
    QCheckBox* m_pTransfer = nullptr;
    QCheckBox* m_pActionFailed = nullptr;
    QCheckBox* m_pLogin = nullptr;
    QCheckBox* m_pClose = nullptr;
    QCheckBox* m_pDelete = nullptr;
    QCheckBox* m_pDisconnect = nullptr;
    QCheckBox* m_pOverwrite = nullptr;
    // Overwrite
    QButtonGroup* m_overwriteAction = nullptr;
    QCheckBox* m_autoClosePrompt = nullptr;
    QSpinBox* m_promptSeconds = nullptr;
};
