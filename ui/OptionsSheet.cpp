#include "ui/OptionsSheet.h"
#include "ui/ControlNames.h"

#include "ui/DisplayText.h"
#include "ui/PlainMessage.h"
#include "ui/SettingsApply.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QCheckBox* CheckBox(const QString& text, const char* objectName, QWidget* parent)
{
    QString accessible = text;
    accessible.remove(QLatin1Char('&'));
    return Named(new QCheckBox(text, parent), objectName, accessible);
}

QSpinBox* SpinBox(int minimum, int maximum, const char* objectName, const QString& accessibleName,
                  QWidget* parent)
{
    auto* spin = Named(new QSpinBox(parent), objectName, accessibleName);
    spin->setRange(minimum, maximum);
    return spin;
}

QLineEdit* LineEdit(const char* objectName, const QString& accessibleName, QWidget* parent)
{
    auto* edit = Named(new QLineEdit(parent), objectName, accessibleName);
    edit->setMinimumWidth(260);
    return edit;
}

QPushButton* Button(const QString& text, const char* objectName, const QString& accessibleName, QWidget* parent)
{
    auto* button = Named(new QPushButton(text, parent), objectName, accessibleName);
    button->setAutoDefault(false);
    return button;
}

// A number with its unit (if any) after it: "Transfer Timeout:" [60] "seconds". The number
// keeps its own width instead of stretching over the page.
QWidget* WithUnit(QSpinBox* spin, const QString& unit, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(spin);
    if (!unit.isEmpty())
        row->addWidget(new QLabel(unit, box));
    row->addStretch();
    return box;
}

// A path shows its beginning (setText leaves it scrolled to its end).
void SetPath(QLineEdit* edit, const std::string& path)
{
    edit->setText(DisplayText(path));
    edit->setCursorPosition(0);
}

QWidget* WithBrowse(QLineEdit* edit, QPushButton* browse, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return box;
}

void SetChecked(QCheckBox* box, int value) { box->setChecked(value != 0); }
int CheckedValue(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

constexpr char kPageGeneral[] = "General";
constexpr char kPageTransfer[] = "Transfer";
constexpr char kPageFileType[] = "File Type";
constexpr char kPagePrompt[] = "Prompt";
constexpr char kPageOverwrite[] = "Overwrite";

} // namespace

OptionsSheet::OptionsSheet(CSharedSettings& settings, ISettingsStore* store, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_store(store)
{
    setObjectName(QStringLiteral("optionsSheet"));
    setAccessibleName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Settings"));

    m_pages = Named(new QTabWidget(this), "optionsPages", QStringLiteral("Settings pages"));
    m_pages->addTab(createGeneralPage(), QLatin1String(kPageGeneral));
    m_pages->addTab(createTransferPage(), QLatin1String(kPageTransfer));
    m_pages->addTab(createFileTypePage(), QLatin1String(kPageFileType));
    m_pages->addTab(createPromptPage(), QLatin1String(kPagePrompt));
    m_pages->addTab(createOverwritePage(), QLatin1String(kPageOverwrite));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    buttons->setObjectName(QStringLiteral("optionsButtons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsSheet::reject);
    QPushButton* help = buttons->button(QDialogButtonBox::Help);
    help->setObjectName(QStringLiteral("help"));
    help->setAccessibleName(QStringLiteral("Help"));
    help->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &OptionsSheet::showHelp);
    auto* helpKey = new QShortcut(QKeySequence::HelpContents, this);
    connect(helpKey, &QShortcut::activated, this, &OptionsSheet::showHelp);
    // An open help window follows the page the user turns to.
    connect(m_pages, &QTabWidget::currentChanged, this, [this] {
        if (m_help && m_help->isVisible())
            showHelp();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);

    load(*m_settings.Current());
}

// ---- pages ----

QWidget* OptionsSheet::createGeneralPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("generalPage"));
    auto* form = new QFormLayout(page);

    m_keepAlive = CheckBox(QStringLiteral("Keep Alive"), "keepAlive", page);
    form->addRow(m_keepAlive);
    m_antiIdleInterval = SpinBox(0, kMaxRetry, "antiIdleInterval", QStringLiteral("Anti-idle command interval"), page);
    form->addRow(QStringLiteral("Anti-idle command interval:"), WithUnit(m_antiIdleInterval, QStringLiteral("seconds"), page));

    m_defaultLocalDirectory = LineEdit("defaultLocalDirectory", QStringLiteral("Default Local Directory"), page);
    auto* browseLocal = Button(QStringLiteral("Browse"), "browseDefaultLocalDirectory",
                               QStringLiteral("Browse for the default local directory"), page);
    connect(browseLocal, &QPushButton::clicked, this, [this] {
        browseFolder(m_defaultLocalDirectory, QStringLiteral("Select the starting folder of files to be imported"));
    });
    form->addRow(QStringLiteral("Default Local Directory:"), WithBrowse(m_defaultLocalDirectory, browseLocal, page));
    m_saveLocalDir = CheckBox(QStringLiteral("Remember Last Local Directory"), "saveLocalDir", page);
    form->addRow(m_saveLocalDir);

    m_enableCache = CheckBox(QStringLiteral("Enable local cache of server directory structure and file listing"),
                             "enableCache", page);
    form->addRow(m_enableCache);
    m_cacheHome = LineEdit("cacheHomeDirectory", QStringLiteral("Cache Home Directory"), page);
    auto* browseCache = Button(QStringLiteral("Browse"), "browseCacheHomeDirectory",
                               QStringLiteral("Browse for the cache home directory"), page);
    connect(browseCache, &QPushButton::clicked, this,
            [this] { browseFolder(m_cacheHome, QStringLiteral("Choosing cache home directory")); });
    form->addRow(QStringLiteral("Cache Home Directory"), WithBrowse(m_cacheHome, browseCache, page));

    m_viewer = LineEdit("viewerPath", QStringLiteral("External Viewer"), page);
    m_viewer->setPlaceholderText(QString::fromStdString(CSettings{}.ViewerPath));
    auto* browseViewerButton = Button(QStringLiteral("Browse"), "browseViewer",
                                      QStringLiteral("Browse for the external viewer"), page);
    connect(browseViewerButton, &QPushButton::clicked, this, &OptionsSheet::browseViewer);
    form->addRow(QStringLiteral("External Viewer:"), WithBrowse(m_viewer, browseViewerButton, page));
    return page;
}

QWidget* OptionsSheet::createTransferPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("transferPage"));
    auto* form = new QFormLayout(page);

    m_saveQueue = CheckBox(QStringLiteral("Save transfer queue on exit"), "saveQueue", page);
    form->addRow(m_saveQueue);
    m_alwaysRetry = CheckBox(QStringLiteral("Always Retry"), "alwaysRetry", page);
    form->addRow(m_alwaysRetry);
    m_errorRetry = SpinBox(0, kMaxRetry, "errorRetry", QStringLiteral("Number of times to retry after failure"), page);
    form->addRow(QStringLiteral("Number of times to retry after failure:"), WithUnit(m_errorRetry, {}, page));
    m_retryDelay = SpinBox(0, kMaxRetry, "retryDelay", QStringLiteral("Time to wait before retry"), page);
    form->addRow(QStringLiteral("Time to wait before retry:"), WithUnit(m_retryDelay, QStringLiteral("seconds"), page));
    m_fileRetry = SpinBox(0, kMaxRetry, "fileRetry", QStringLiteral("Number of times to retry at file level"), page);
    form->addRow(QStringLiteral("Number of times to retry at file level:"), WithUnit(m_fileRetry, {}, page));
    m_autoReset = CheckBox(QStringLiteral("Auto reset stopped items in queue"), "autoReset", page);
    form->addRow(m_autoReset);
    // 0 would make every transfer time out at once.
    m_timeout = SpinBox(1, kMaxTimeout, "timeout", QStringLiteral("Transfer Timeout"), page);
    form->addRow(QStringLiteral("Transfer Timeout:"), WithUnit(m_timeout, QStringLiteral("seconds"), page));
    return page;
}

QWidget* OptionsSheet::createFileTypePage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("fileTypePage"));
    auto* layout = new QVBoxLayout(page);

    auto* label = new QLabel(QStringLiteral("Text File Extensions:"), page);
    layout->addWidget(label);
    m_extensions = Named(new QListWidget(page), "extensionList", QStringLiteral("Text File Extensions"));
    label->setBuddy(m_extensions);
    layout->addWidget(m_extensions);

    auto* row = new QHBoxLayout;
    m_newExtension = LineEdit("newExtension", QStringLiteral("New text file extension"), page);
    m_newExtension->setMinimumWidth(120);
    auto* add = Button(QStringLiteral("Add"), "addExtension", QStringLiteral("Add extension"), page);
    auto* remove = Button(QStringLiteral("Remove"), "removeExtension", QStringLiteral("Remove extension"), page);
    connect(add, &QPushButton::clicked, this, &OptionsSheet::addExtension);
    connect(m_newExtension, &QLineEdit::returnPressed, this, &OptionsSheet::addExtension);
    connect(remove, &QPushButton::clicked, this, &OptionsSheet::removeExtension);
    row->addWidget(m_newExtension, 1);
    row->addWidget(add);
    row->addWidget(remove);
    layout->addLayout(row);

    m_checkContent = CheckBox(QStringLiteral("Check By Content"), "checkContent", page);
    layout->addWidget(m_checkContent);
    auto* form = new QFormLayout;
    m_previewLen = SpinBox(0, kMaxRetry, "previewLen", QStringLiteral("Check Length"), page);
    form->addRow(QStringLiteral("Check Length:"), WithUnit(m_previewLen, QStringLiteral("KB"), page));
    layout->addLayout(form);
    return page;
}

QWidget* OptionsSheet::createPromptPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("promptPage"));
    auto* layout = new QVBoxLayout(page);
    auto* group = Named(new QGroupBox(QStringLiteral("Prompt on the following cases:"), page), "promptCases",
                        QStringLiteral("Prompt on the following cases"));
    auto* boxes = new QVBoxLayout(group);
    m_pTransfer = CheckBox(QStringLiteral("Transfer Confirmation"), "pTransfer", group);
    m_pActionFailed = CheckBox(QStringLiteral("Requested Action Failed"), "pActionFailed", group);
    m_pLogin = CheckBox(QStringLiteral("Login Message"), "pLogin", group);
    m_pClose = CheckBox(QStringLiteral("Connection closed by server"), "pClose", group);
    m_pDelete = CheckBox(QStringLiteral("Delete Confirmation"), "pDelete", group);
    m_pDisconnect = CheckBox(QStringLiteral("Disconnect Confirmation"), "pDisconnect", group);
    m_pOverwrite = CheckBox(QStringLiteral("Overwrite confirmation"), "pOverwrite", group);
    for (QCheckBox* box : {m_pTransfer, m_pActionFailed, m_pLogin, m_pClose, m_pDelete, m_pDisconnect, m_pOverwrite})
        boxes->addWidget(box);
    layout->addWidget(group);
    layout->addStretch();
    return page;
}

QWidget* OptionsSheet::createOverwritePage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("overwritePage"));
    auto* layout = new QVBoxLayout(page);
    auto* group = Named(new QGroupBox(QStringLiteral("Action when destination file already exists:"), page),
                        "overwriteActions", QStringLiteral("Action when destination file already exists"));
    auto* radios = new QVBoxLayout(group);
    m_overwriteAction = new QButtonGroup(this);
    const char* const names[] = {"overwriteSkip", "overwriteResume", "overwriteOverwrite", "overwriteAuto"};
    const QString texts[] = {QStringLiteral("Skip"), QStringLiteral("Resume"), QStringLiteral("Overwrite"),
                             QStringLiteral("Auto")};
    for (int action = 0; action < 4; ++action) {
        auto* radio = Named(new QRadioButton(texts[action], group), names[action], texts[action]);
        m_overwriteAction->addButton(radio, action);
        radios->addWidget(radio);
    }
    layout->addWidget(group);

    auto* row = new QHBoxLayout;
    m_autoClosePrompt = CheckBox(QStringLiteral("Dismiss confirmation dialog in"), "autoClosePrompt", page);
    m_promptSeconds = SpinBox(0, kMaxTimeout, "promptSeconds", QStringLiteral("Seconds before the confirmation is dismissed"), page);
    row->addWidget(m_autoClosePrompt);
    row->addWidget(m_promptSeconds);
    row->addWidget(new QLabel(QStringLiteral("seconds"), page));
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    return page;
}

// ---- values ----

void OptionsSheet::load(const CSettings& t)
{
    SetChecked(m_keepAlive, t.KeepAlive);
    m_antiIdleInterval->setValue(t.AntiIdleCommandInterval);
    SetPath(m_defaultLocalDirectory, t.DefaultLocalDirectory);
    SetChecked(m_saveLocalDir, t.SaveLocalDir);
    SetChecked(m_enableCache, t.EnableCache);
    SetPath(m_cacheHome, t.CacheHomeDirectory);
    SetPath(m_viewer, t.ViewerPath);

    SetChecked(m_saveQueue, t.SaveQueue);
    SetChecked(m_alwaysRetry, t.AlwaysRetry);
    m_errorRetry->setValue(t.ErrorRetry);
    m_retryDelay->setValue(t.RetryDelay);
    m_fileRetry->setValue(t.FileRetry);
    SetChecked(m_autoReset, t.AutoReset);
    m_timeout->setValue(t.Timeout);

    m_extensions->clear();
    m_extensions->addItems(splitExtensions(t.TextFileExtension));
    m_newExtension->clear();
    SetChecked(m_checkContent, t.CheckContent);
    m_previewLen->setValue(t.PreviewLen);

    SetChecked(m_pTransfer, t.pTransfer);
    SetChecked(m_pActionFailed, t.pActionFailed);
    SetChecked(m_pLogin, t.pLogin);
    SetChecked(m_pClose, t.pClose);
    SetChecked(m_pDelete, t.pDelete);
    SetChecked(m_pDisconnect, t.pDisconnect);
    SetChecked(m_pOverwrite, t.pOverwrite);

    if (QAbstractButton* action = m_overwriteAction->button(t.DefaultOverwriteAction))
        action->setChecked(true);
    SetChecked(m_autoClosePrompt, t.AutoClosePrompt);
    m_promptSeconds->setValue(t.PromptSeconds);
}

void OptionsSheet::storeInto(CSettings& t) const
{
    t.KeepAlive = CheckedValue(m_keepAlive);
    t.AntiIdleCommandInterval = m_antiIdleInterval->value();
    t.DefaultLocalDirectory = EngineText(m_defaultLocalDirectory->text());
    t.SaveLocalDir = CheckedValue(m_saveLocalDir);
    t.EnableCache = CheckedValue(m_enableCache);
    t.CacheHomeDirectory = EngineText(m_cacheHome->text());
    t.ViewerPath = EngineText(m_viewer->text().trimmed());
    if (t.ViewerPath.empty())
        t.ViewerPath = CSettings{}.ViewerPath;

    t.SaveQueue = CheckedValue(m_saveQueue);
    t.AlwaysRetry = CheckedValue(m_alwaysRetry);
    t.ErrorRetry = m_errorRetry->value();
    t.RetryDelay = m_retryDelay->value();
    t.FileRetry = m_fileRetry->value();
    t.AutoReset = CheckedValue(m_autoReset);
    t.Timeout = m_timeout->value();

    t.TextFileExtension = joinExtensions(listedExtensions());
    t.CheckContent = CheckedValue(m_checkContent);
    t.PreviewLen = m_previewLen->value();

    t.pTransfer = CheckedValue(m_pTransfer);
    t.pActionFailed = CheckedValue(m_pActionFailed);
    t.pLogin = CheckedValue(m_pLogin);
    t.pClose = CheckedValue(m_pClose);
    t.pDelete = CheckedValue(m_pDelete);
    t.pDisconnect = CheckedValue(m_pDisconnect);
    t.pOverwrite = CheckedValue(m_pOverwrite);

    // A stored action outside 0..3 checks no radio button; it then stays as it was.
    if (const int action = m_overwriteAction->checkedId(); action >= 0)
        t.DefaultOverwriteAction = action;
    t.AutoClosePrompt = CheckedValue(m_autoClosePrompt);
    t.PromptSeconds = m_promptSeconds->value();
}

void OptionsSheet::accept()
{
    std::string error;
    const bool written = ApplySettingsTable(m_settings, [this](CSettings& table) { storeInto(table); },
                                            m_store, &error);
    QWidget* owner = parentWidget();
    QDialog::accept();
    // The new settings are in use either way; the message outlives the sheet.
    if (!written)
        ShowPlainMessage(owner, QStringLiteral("The settings are in use but could not be written:\n%1\n"
                                               "They will be written again when Tollvane closes.")
                                    .arg(DisplayText(error)));
}

// ---- help ----

QString OptionsSheet::pageHelp(int page)
{
    switch (page) {
    case 0:
        return QStringLiteral(
            "Keep Alive: while a site is connected and idle, Tollvane sends a harmless command every "
            "\"Anti-idle command interval\" seconds, so the server does not close the connection.\n\n"
            "Default Local Directory: the folder the local pane shows when Tollvane starts. With "
            "\"Remember Last Local Directory\" checked, the folder shown when Tollvane was closed is used instead.\n\n"
            "Enable local cache: the listing of every folder shown from a server is kept under \"Cache Home "
            "Directory\", so the folder can be shown without a connection and Tools > Offline Search finds "
            "files in it.\n\n"
            "External Viewer: the program that opens files for viewing. Leave it empty for the desktop's "
            "own choice (xdg-open).");
    case 1:
        return QStringLiteral(
            "Save transfer queue on exit: the queue is kept when Tollvane closes and is there again at the next start.\n\n"
            "Number of times to retry after failure: how often a failed connection, and a queue that had "
            "failures, is tried again. \"Always Retry\" removes that limit: Tollvane tries until you stop it.\n\n"
            "Time to wait before retry: the pause before each new try (0 waits as long as the Transfer Timeout).\n\n"
            "Number of times to retry at file level: how often one operation, such as one file, is tried again.\n\n"
            "Auto reset stopped items in queue: when the queue starts, stopped items are transferred again "
            "without asking.\n\n"
            "Transfer Timeout: how long Tollvane waits for a reply of the server, and how long a transfer may "
            "move no data, before the step fails (1 to 1000 seconds). A change counts from the next operation "
            "of a site that is already open.");
    case 2:
        return QStringLiteral(
            "Text File Extensions: in automatic mode, files whose names end in one of these extensions are "
            "moved as text (line ends converted between the systems); all other files are moved unchanged "
            "(binary). The extension is compared as it is written, upper and lower case included. Type an "
            "extension without the dot and press Add; select one and press Remove to delete it.\n\n"
            "Check By Content and Check Length are kept with the settings; this version decides by the "
            "extension alone.");
    case 3:
        return QStringLiteral(
            "Tollvane asks before it acts, or shows a message, in each case checked here:\n\n"
            "Transfer Confirmation: before files are transferred.\n"
            "Requested Action Failed: when the server refuses a command.\n"
            "Login Message: the server's welcome text after logging in.\n"
            "Connection closed by server: when the server ends the connection.\n"
            "Delete Confirmation: before files are deleted.\n"
            "Disconnect Confirmation: before a connected site is closed.\n"
            "Overwrite confirmation: when the destination of a transfer already exists.");
    case 4:
        return QStringLiteral(
            "Action when destination file already exists: what a transfer does when the file is already there. "
            "With \"Overwrite confirmation\" checked on the Prompt page, this is the action suggested in the question.\n\n"
            "Skip: the file is left out.\n"
            "Resume: the transfer continues where the existing file ends.\n"
            "Overwrite: the existing file is replaced.\n"
            "Auto: decided for each file by comparing the sizes and times of the two files.\n\n"
            "Dismiss confirmation dialog in ... seconds: when the question is asked, the suggested action is "
            "taken by itself after this many seconds.");
    default:
        return {};
    }
}

QMessageBox* OptionsSheet::helpWindow() const
{
    return m_help.data();
}

void OptionsSheet::showHelp()
{
    const int page = m_pages->currentIndex();
    const QString caption = QStringLiteral("Settings Help: %1").arg(m_pages->tabText(page));
    if (!m_help) {
        // Beside the sheet, not over it: the user reads it while changing the page.
        m_help = new QMessageBox(QMessageBox::Information, caption, QString(), QMessageBox::Close, this);
        m_help->setObjectName(QStringLiteral("settingsHelp"));
        m_help->setTextFormat(Qt::PlainText);
        m_help->setWindowModality(Qt::NonModal);
        m_help->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_help->setWindowTitle(caption);
    m_help->setAccessibleName(caption);
    m_help->setText(pageHelp(page));
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

// ---- the extension list ----

QString OptionsSheet::extensionRefusal(const QStringList& listed, const QString& extension)
{
    if (extension.isEmpty())
        return QStringLiteral("An extension can't be empty!");
    if (listed.contains(extension, Qt::CaseInsensitive))
        return QStringLiteral("Extension already exists!");
    // The stored list is separated by ";": one inside an extension would split it.
    if (extension.contains(QLatin1Char(';')))
        return QStringLiteral("An extension can't contain \";\"!");
    return {};
}

QStringList OptionsSheet::splitExtensions(const std::string& value)
{
    return DisplayText(value).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

std::string OptionsSheet::joinExtensions(const QStringList& extensions)
{
    std::string value;
    for (const QString& extension : extensions)
        value += EngineText(extension) + ';';
    return value;
}

QStringList OptionsSheet::listedExtensions() const
{
    QStringList listed;
    for (int row = 0; row < m_extensions->count(); ++row)
        listed << m_extensions->item(row)->text();
    return listed;
}

void OptionsSheet::addExtension()
{
    const QString extension = m_newExtension->text();
    const QString refusal = extensionRefusal(listedExtensions(), extension);
    if (!refusal.isEmpty()) {
        ShowPlainMessage(this, refusal);
        return;
    }
    m_extensions->addItem(extension);
    m_newExtension->clear();
}

void OptionsSheet::removeExtension()
{
    if (QListWidgetItem* item = m_extensions->currentItem())
        delete item;
}

// ---- browsing ----

void OptionsSheet::browseFolder(QLineEdit* target, const QString& title)
{
    auto* dialog = new QFileDialog(this, title, target->text());
    dialog->setObjectName(QStringLiteral("folderBrowser"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, target, &QLineEdit::setText);
    dialog->open();
}

void OptionsSheet::browseViewer()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("External Viewer"));
    dialog->setObjectName(QStringLiteral("viewerBrowser"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Any program: executable files (and folders to walk through), whatever their name.
    dialog->setNameFilter(QStringLiteral("Programs (*)"));
    dialog->setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    const QFileInfo current(m_viewer->text());
    if (current.isAbsolute())
        dialog->setDirectory(current.absolutePath());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, m_viewer, &QLineEdit::setText);
    dialog->open();
}
