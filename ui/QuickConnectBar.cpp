#include "ui/QuickConnectBar.h"

#include "sites/TextUtil.h"
#include "ui/DisplayText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

QuickConnectBar::QuickConnectBar(QWidget* parent) : QToolBar(QStringLiteral("Quick Connect Bar"), parent)
{
    setObjectName(QStringLiteral("quickConnectBar"));
    setAccessibleName(QStringLiteral("Quick Connect Bar"));
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(4, 2, 4, 2);

    m_url = new QComboBox(box);
    m_url->setEditable(true);
    m_url->setInsertPolicy(QComboBox::NoInsert);
    m_url->setAccessibleName(QStringLiteral("URL"));
    m_url->setObjectName(QStringLiteral("urlBox"));
    m_url->setMinimumContentsLength(24);
    m_url->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_user = new QLineEdit(box);
    m_user->setAccessibleName(QStringLiteral("User"));
    m_user->setObjectName(QStringLiteral("userBox"));
    m_password = new QLineEdit(box);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setAccessibleName(QStringLiteral("Password"));
    m_password->setObjectName(QStringLiteral("passwordBox"));
    m_port = new QLineEdit(box);
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_port->setMaximumWidth(64);
    m_port->setAccessibleName(QStringLiteral("Port"));
    m_port->setObjectName(QStringLiteral("portBox"));
    m_anonymous = new QCheckBox(QStringLiteral("&Anonymous"), box);
    m_anonymous->setAccessibleName(QStringLiteral("Anonymous"));
    m_passive = new QCheckBox(QStringLiteral("Pa&ssive"), box);
    m_passive->setAccessibleName(QStringLiteral("Passive"));
    m_connect = new QPushButton(QStringLiteral("&Connect"), box);
    m_connect->setAccessibleName(QStringLiteral("Connect"));
    m_connect->setObjectName(QStringLiteral("connectButton"));

    layout->addWidget(BuddyLabel(QStringLiteral("U&RL:"), m_url, box));
    layout->addWidget(m_url, 3);
    layout->addWidget(BuddyLabel(QStringLiteral("&User:"), m_user, box));
    layout->addWidget(m_user, 1);
    layout->addWidget(BuddyLabel(QStringLiteral("&Password:"), m_password, box));
    layout->addWidget(m_password, 1);
    layout->addWidget(BuddyLabel(QStringLiteral("P&ort:"), m_port, box));
    layout->addWidget(m_port);
    layout->addWidget(m_anonymous);
    layout->addWidget(m_passive);
    layout->addWidget(m_connect);
    addWidget(box);

    connect(m_user, &QLineEdit::textEdited, this, [this] { m_anonymous->setChecked(false); });
    connect(m_password, &QLineEdit::textEdited, this, [this] { m_anonymous->setChecked(false); });
    connect(m_connect, &QPushButton::clicked, this, &QuickConnectBar::connectRequested);
    connect(m_url->lineEdit(), &QLineEdit::returnPressed, this, &QuickConnectBar::connectRequested);
}

void QuickConnectBar::setUrlHistory(const std::vector<std::string>& urlHistory)
{
    const QString current = m_url->currentText();
    m_url->clear();
    for (const std::string& url : urlHistory)
        m_url->addItem(DisplayText(url));
    m_url->setEditText(current);
}

void QuickConnectBar::load(const CSettings& settings, const std::vector<std::string>& urlHistory)
{
    setUrlHistory(urlHistory);
    m_url->setEditText(DisplayText(settings.LastAddress));
    m_port->setText(QString::number(settings.LastPort));
    const bool anonymous = settings.LastPassword == settings.AnonymousPass &&
                           sites::EqualsNoCase(settings.LastUser, "anonymous");
    m_anonymous->setChecked(anonymous);
    m_user->setText(anonymous ? QString() : DisplayText(settings.LastUser));
    m_password->setText(anonymous ? QString() : DisplayText(settings.LastPassword));
    m_passive->setChecked(settings.LastPassive != 0);
}

QuickConnectFields QuickConnectBar::fields() const
{
    QuickConnectFields fields;
    fields.url = EngineText(m_url->currentText());
    fields.user = EngineText(m_user->text());
    fields.password = EngineText(m_password->text());
    fields.port = EngineText(m_port->text());
    fields.anonymous = m_anonymous->isChecked();
    fields.passive = m_passive->isChecked();
    return fields;
}
