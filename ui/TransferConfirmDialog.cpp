#include "ui/TransferConfirmDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

TransferConfirmDialog::TransferConfirmDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("transferConfirmDialog"));
    setWindowTitle(QStringLiteral("Confirm Transfer"));
    setAccessibleName(QStringLiteral("Confirm Transfer"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Are you sure to transfer the selected files?"), this);
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text);
    m_queueOnly = new QCheckBox(QStringLiteral("Add to queue only"), this);
    m_queueOnly->setObjectName(QStringLiteral("queueOnly"));
    m_queueOnly->setAccessibleName(QStringLiteral("Add to queue only"));
    layout->addWidget(m_queueOnly);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setAccessibleName(QStringLiteral("Buttons"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool TransferConfirmDialog::queueOnly() const
{
    return m_queueOnly->isChecked();
}
