#include "ui/SiteManagerDialog.h"
#include "ui/ControlNames.h"

#include "ui/DisplayText.h"
#include "ui/PlainMessage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kCaption = QStringLiteral("Site Manager");

QPushButton* Button(const QString& text, const char* objectName, QWidget* parent)
{
    QString accessible = text;
    accessible.remove(QLatin1Char('&'));
    auto* button = Named(new QPushButton(text, parent), objectName, accessible);
    button->setAutoDefault(false);
    return button;
}

void SetText(QLineEdit* edit, const std::string& text)
{
    const QString shown = DisplayText(text);
    if (edit->text() != shown)
        edit->setText(shown);
}

} // namespace

SiteManagerDialog::SiteManagerDialog(SiteList& sites, const std::string& siteFilePath,
                                     const std::string& anonymousPass, QWidget* parent)
    : QDialog(parent),
      m_model(std::make_unique<CSiteManagerModel>(sites, siteFilePath, anonymousPass,
                                                  static_cast<SiteManagerPrompts&>(*this)))
{
    setObjectName(QStringLiteral("siteManagerDialog"));
    setAccessibleName(kCaption);
    setWindowTitle(kCaption);

    m_list = Named(new QListWidget(this), "siteList", QStringLiteral("Sites"));
    m_list->setMinimumWidth(160);
    m_list->setMaximumWidth(240);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Follows the selection, not the current item: a list that gets the focus makes its
    // first item current without selecting it, and that must not drop a new site's fields.
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = m_list->selectedItems();
        if (!m_showing && !selected.isEmpty())
            selectRow(m_list->row(selected.first()));
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &SiteManagerDialog::connectSite);

    m_name = Named(new QLineEdit(this), "siteName", QStringLiteral("Site Name"));
    m_address = Named(new QLineEdit(this), "hostAddress", QStringLiteral("Host Address"));
    m_port = Named(new QLineEdit(this), "port", QStringLiteral("Port"));
    m_port->setMaxLength(5);
    m_user = Named(new QLineEdit(this), "userName", QStringLiteral("User Name"));
    m_password = Named(new QLineEdit(this), "password", QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    for (QLineEdit* edit : {m_user, m_password}) {
        connect(edit, &QLineEdit::textEdited, this, [this] {
            readFields();
            m_model->UserOrPasswordEdited();
            if (QAbstractButton* normal = m_loginType->button(CSiteSetting::LOGIN_NORMAL))
                normal->setChecked(true);
        });
    }

    auto* loginGroup = Named(new QGroupBox(QStringLiteral("Login Type"), this), "loginType", QStringLiteral("Login Type"));
    auto* loginRow = new QHBoxLayout(loginGroup);
    m_loginType = new QButtonGroup(this);
    const char* const loginNames[] = {"loginNormal", "loginAnonymous", "loginDouble"};
    const QString loginTexts[] = {QStringLiteral("Normal"), QStringLiteral("Anonymous"), QStringLiteral("Double")};
    for (int type = 0; type < 3; ++type) {
        auto* radio = Named(new QRadioButton(loginTexts[type], loginGroup), loginNames[type], loginTexts[type]);
        m_loginType->addButton(radio, type);
        loginRow->addWidget(radio);
    }

    m_hostType = Named(new QComboBox(this), "hostType", QStringLiteral("Host Type"));
    m_hostType->addItem(QStringLiteral("Auto Detect"));
    m_localDir = Named(new QLineEdit(this), "defaultLocalDirectory", QStringLiteral("Default Local Directory"));
    // A tool button: as narrow as its "...", so the folder field keeps the row's width.
    auto* browse = Named(new QToolButton(this), "browseLocalDirectory",
                         QStringLiteral("Browse for the default local directory"));
    browse->setText(QStringLiteral("..."));
    connect(browse, &QToolButton::clicked, this, &SiteManagerDialog::browseLocalDirectory);
    m_remoteDir = Named(new QLineEdit(this), "defaultRemoteDirectory", QStringLiteral("Default Remote Directory"));
    m_passive = Named(new QCheckBox(QStringLiteral("Use Passive Mode"), this), "usePassiveMode",
                      QStringLiteral("Use Passive Mode"));

    // The order of the choices is the site record's encryption number.
    m_encryption = Named(new QComboBox(this), "encryption", QStringLiteral("Encryption"));
    m_encryption->addItems({QStringLiteral("None (plain FTP)"),
                            QStringLiteral("TLS if the server offers it, else plain FTP"),
                            QStringLiteral("TLS required (explicit, AUTH TLS)"),
                            QStringLiteral("Implicit TLS (port 990)")});
    connect(m_encryption, &QComboBox::activated, this, [this](int index) {
        // The implicit port goes with implicit TLS, as long as the port was the default.
        if (index == CSiteSetting::ENCRYPTION_IMPLICIT && m_port->text() == QLatin1String("21"))
            m_port->setText(QString::number(CSiteSetting::kImplicitTlsPort));
        else if (index != CSiteSetting::ENCRYPTION_IMPLICIT &&
                 m_port->text() == QString::number(CSiteSetting::kImplicitTlsPort))
            m_port->setText(QStringLiteral("21"));
    });

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("Site &Name:"), m_name);
    form->addRow(QStringLiteral("Host &Address:"), m_address);
    form->addRow(QStringLiteral("&Port:"), m_port);
    form->addRow(QStringLiteral("&User Name:"), m_user);
    form->addRow(QStringLiteral("Pass&word:"), m_password);
    form->addRow(loginGroup);
    form->addRow(QStringLiteral("Host Type:"), m_hostType);
    auto* localRow = new QHBoxLayout;
    localRow->addWidget(m_localDir, 1);
    localRow->addWidget(browse);
    form->addRow(QStringLiteral("Default Local Directory:"), localRow);
    form->addRow(QStringLiteral("Default Remote Directory:"), m_remoteDir);
    form->addRow(m_passive);
    form->addRow(QStringLiteral("&Encryption:"), m_encryption);

    auto* sort = Button(QStringLiteral("Sort"), "sortSites", this);
    auto* up = Button(QStringLiteral("Move Up"), "moveUp", this);
    auto* down = Button(QStringLiteral("Move Down"), "moveDown", this);
    m_newButton = Button(QStringLiteral("New"), "newSite", this);
    auto* restoreButton = Button(QStringLiteral("Restore"), "restoreSite", this);
    m_deleteButton = Button(QStringLiteral("Delete"), "deleteSite", this);
    m_connectButton = Button(QStringLiteral("Connect"), "connectSite", this);
    m_connectButton->setDefault(true);
    auto* close = Button(QStringLiteral("Close"), "closeSiteManager", this);
    connect(sort, &QPushButton::clicked, this, &SiteManagerDialog::sortSites);
    connect(up, &QPushButton::clicked, this, &SiteManagerDialog::moveUp);
    connect(down, &QPushButton::clicked, this, &SiteManagerDialog::moveDown);
    connect(m_newButton, &QPushButton::clicked, this, &SiteManagerDialog::newOrAdd);
    connect(restoreButton, &QPushButton::clicked, this, &SiteManagerDialog::restore);
    connect(m_deleteButton, &QPushButton::clicked, this, &SiteManagerDialog::deleteSite);
    connect(m_connectButton, &QPushButton::clicked, this, &SiteManagerDialog::connectSite);
    connect(close, &QPushButton::clicked, this, &SiteManagerDialog::closeDialog);

    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(m_list, 1);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* button : {sort, up, down})
        listButtons->addWidget(button);
    listColumn->addLayout(listButtons);

    auto* top = new QHBoxLayout;
    top->addLayout(listColumn);
    top->addLayout(form, 1);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_newButton, restoreButton, m_deleteButton})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(m_connectButton);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
    resize(680, 400);

    showModel();
}

SiteManagerDialog::~SiteManagerDialog() = default;

// ---- model and controls ----

void SiteManagerDialog::readFields()
{
    SiteFields& f = m_model->Fields();
    f.name = EngineText(m_name->text());
    f.address = EngineText(m_address->text());
    f.port = EngineText(m_port->text());
    f.username = EngineText(m_user->text());
    f.password = EngineText(m_password->text());
    f.loginRadio = m_loginType->checkedId();
    f.hostTypeIndex = m_hostType->currentIndex();
    f.deflocaldir = EngineText(m_localDir->text());
    f.defremotedir = EngineText(m_remoteDir->text());
    f.passive = m_passive->isChecked();
    f.encryption = m_encryption->currentIndex();
}

void SiteManagerDialog::showModel()
{
    m_showing = true;
    const CSiteManagerModel& model = *m_model;
    while (m_list->count() > model.Count())
        delete m_list->takeItem(m_list->count() - 1);
    for (int row = 0; row < model.Count(); ++row) {
        const QString text = DisplayText(model.ItemText(row));
        if (row < m_list->count()) {
            if (m_list->item(row)->text() != text)
                m_list->item(row)->setText(text);
        } else {
            m_list->addItem(text);
        }
    }
    if (model.InNewMode() || model.Selected() < 0) {
        m_list->clearSelection();
        m_list->setCurrentRow(-1);
    } else {
        m_list->setCurrentRow(model.Selected());
    }

    const SiteFields& f = model.Fields();
    SetText(m_name, f.name);
    SetText(m_address, f.address);
    SetText(m_port, f.port);
    SetText(m_user, f.username);
    SetText(m_password, f.password);
    if (QAbstractButton* radio = m_loginType->button(f.loginRadio)) {
        radio->setChecked(true);
    } else if (QAbstractButton* checked = m_loginType->checkedButton()) {
        m_loginType->setExclusive(false);
        checked->setChecked(false);
        m_loginType->setExclusive(true);
    }
    m_hostType->setCurrentIndex(0); // "Auto Detect" is the only type offered
    SetText(m_localDir, f.deflocaldir);
    SetText(m_remoteDir, f.defremotedir);
    m_passive->setChecked(f.passive);
    m_encryption->setCurrentIndex(f.encryption >= 0 && f.encryption < m_encryption->count() ? f.encryption : 0);

    m_newButton->setText(QString::fromLatin1(model.NewButtonLabel()));
    m_newButton->setAccessibleName(m_newButton->text());
    m_deleteButton->setEnabled(model.DeleteEnabled());
    m_showing = false;
}

// ---- prompts ----

void SiteManagerDialog::ShowMessage(const std::string& text)
{
    m_lastMessage = DisplayText(text);
    ShowPlainMessage(this, m_lastMessage, kCaption);
}

SiteManagerPrompts::Answer SiteManagerDialog::AskYesNoCancel(const std::string&)
{
    // Asked before the close was tried (askToAddThenClose); never blocks here.
    return m_pendingAnswer.value_or(Answer::Cancel);
}

void SiteManagerDialog::FocusHostAddress()
{
    m_address->setFocus();
}

void SiteManagerDialog::askToAddThenClose()
{
    auto* box = new QMessageBox(QMessageBox::Question, kCaption, QStringLiteral("Do you want to add this site?"),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("addSiteQuestion"));
    box->setAccessibleName(QStringLiteral("Do you want to add this site?"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box] {
        const QMessageBox::StandardButton button = box->standardButton(box->clickedButton());
        if (button == QMessageBox::Yes)
            m_pendingAnswer = Answer::Yes;
        else if (button == QMessageBox::No)
            m_pendingAnswer = Answer::No;
        else
            return; // Cancel keeps the dialog open
        closeDialog();
    });
    box->open();
}

// ---- actions ----

void SiteManagerDialog::selectRow(int row)
{
    readFields();
    m_model->Select(row);
    showModel();
}

void SiteManagerDialog::newOrAdd()
{
    readFields();
    m_model->New();
    showModel();
}

void SiteManagerDialog::restore()
{
    readFields();
    m_model->Restore();
    showModel();
}

void SiteManagerDialog::deleteSite()
{
    readFields();
    m_model->Delete();
    showModel();
}

void SiteManagerDialog::moveUp()
{
    readFields();
    m_model->MoveUp();
    showModel();
}

void SiteManagerDialog::moveDown()
{
    readFields();
    m_model->MoveDown();
    showModel();
}

void SiteManagerDialog::sortSites()
{
    readFields();
    m_model->Sort();
    showModel();
}

void SiteManagerDialog::connectSite()
{
    readFields();
    const CSiteManagerModel::ConnectResult result = m_model->Connect();
    showModel();
    if (!result.closed)
        return;
    QDialog::accept();
    if (result.siteIndex >= 0)
        emit connectRequested(result.siteIndex);
}

void SiteManagerDialog::closeDialog()
{
    readFields();
    if (m_model->InNewMode() && !m_model->Fields().address.empty() && !m_pendingAnswer) {
        askToAddThenClose();
        return;
    }
    const bool closed = m_model->Close();
    m_pendingAnswer.reset();
    showModel();
    if (closed)
        QDialog::reject();
}

void SiteManagerDialog::reject()
{
    closeDialog();
}

void SiteManagerDialog::browseLocalDirectory()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("Browse For Folder"), m_localDir->text());
    dialog->setObjectName(QStringLiteral("folderBrowser"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, m_localDir, &QLineEdit::setText);
    dialog->open();
}
