#include "ui/PaneCacheDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

PaneCacheDialog::PaneCacheDialog(const QString& folder, bool listsLive, QWidget* parent)
    : QDialog(parent), m_queueOnly(new QCheckBox(QStringLiteral("&Queue Only"), this))
{
    setObjectName(QStringLiteral("cacheDirectory"));
    setWindowTitle(QStringLiteral("Cache Directory"));
    auto* start = new QLineEdit(folder, this);
    start->setObjectName(QStringLiteral("startingDirectory"));
    start->setAccessibleName(QStringLiteral("Starting Directory"));
    // The walk starts where the command was chosen; the field only shows where that is.
    start->setReadOnly(true);
    m_queueOnly->setObjectName(QStringLiteral("queueOnly"));
    m_queueOnly->setAccessibleName(QStringLiteral("Queue Only"));
    auto* refreshAll = new QCheckBox(QStringLiteral("&Refresh All"), this);
    refreshAll->setObjectName(QStringLiteral("refreshAll"));
    refreshAll->setAccessibleName(QStringLiteral("Refresh All"));
    // Follows "Always Online": with it off, folders cached before are taken as they are.
    refreshAll->setChecked(listsLive);
    refreshAll->setEnabled(false);
    refreshAll->setToolTip(listsLive ? QStringLiteral("Every folder is listed again (Always Online is on).")
                                     : QStringLiteral("Folders cached before are kept (Always Online is off)."));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Starting Directory:"), start);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_queueOnly);
    layout->addWidget(refreshAll);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
}

bool PaneCacheDialog::queueOnly() const
{
    return m_queueOnly->isChecked();
}
