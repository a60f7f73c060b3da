#include "ui/CertificateDialog.h"

#include "ui/DisplayText.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* ReadOnlyField(const std::string& text, const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(DisplayText(text), parent);
    edit->setReadOnly(true);
    edit->setAccessibleName(name);
    edit->setCursorPosition(0);
    return edit;
}

QLabel* PlainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

CertificateDialog::CertificateDialog(const CCertificateQuestion& question, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("certificateDialog"));
    setWindowTitle(QStringLiteral("Server Certificate"));
    setAccessibleName(QStringLiteral("Server Certificate"));
    const QString where = DisplayText(question.host) + QLatin1Char(':') + QString::number(question.port);
    QString prompt;
    if (!question.replaces.empty())
        prompt = QStringLiteral("WARNING: the certificate of %1 HAS CHANGED. It is not the certificate you "
                                "trusted for this server (%2). Someone may be intercepting the connection. "
                                "Trust the new certificate only if you know why it changed.")
                     .arg(where, DisplayText(question.replaces));
    else
        prompt = QStringLiteral("The certificate of %1 is not trusted: %2. Trust it only if you know it is "
                                "this server's (compare the fingerprint with the one its administrator gave you).")
                     .arg(where, DisplayText(question.problem.empty() ? std::string("unknown issuer") : question.problem));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Fingerprint:"), ReadOnlyField(question.fingerprint, QStringLiteral("Fingerprint"), this));
    form->addRow(QStringLiteral("Subject:"), ReadOnlyField(question.subject, QStringLiteral("Subject"), this));
    form->addRow(QStringLiteral("Issuer:"), ReadOnlyField(question.issuer, QStringLiteral("Issuer"), this));
    form->addRow(QStringLiteral("Valid from:"), ReadOnlyField(question.notBefore, QStringLiteral("Valid from"), this));
    form->addRow(QStringLiteral("Valid to:"), ReadOnlyField(question.notAfter, QStringLiteral("Valid to"), this));

    m_refuse = new QPushButton(QStringLiteral("&Refuse"), this);
    m_trustOnce = new QPushButton(QStringLiteral("Trust &once"), this);
    m_alwaysTrust = new QPushButton(QStringLiteral("&Always trust"), this);
    const std::pair<QPushButton*, int> buttons[] = {
        {m_refuse, CERT_REFUSE}, {m_trustOnce, CERT_TRUST_ONCE}, {m_alwaysTrust, CERT_TRUST_ALWAYS}};
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (const auto& [button, trust] : buttons) {
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, trust = trust] { choose(trust); });
        row->addWidget(button);
    }
    m_refuse->setDefault(true);
    setFocusProxy(m_refuse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PlainLabel(prompt, this));
    layout->addLayout(form);
    layout->addLayout(row);
    resize(640, sizeHint().height());
}

void CertificateDialog::choose(int trust)
{
    m_answer = trust;
    accept();
}
