#include "ui/QueueEntryDialog.h"

#include "ui/DisplayText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

QueueEntryFields QueueEntryFields::From(const CQueueEntry& entry)
{
    QueueEntryFields fields;
    fields.localPath = entry.localPath;
    fields.remotePath = entry.remotePath;
    fields.pattern = entry.pattern;
    fields.operation = entry.operation;
    fields.updateOnly = entry.updateOnly != 0;
    fields.includeSubdirectories = entry.includeSubdirectories != 0;
    return fields;
}

void QueueEntryFields::applyTo(CQueueEntry& entry) const
{
    entry.localPath = localPath;
    entry.remotePath = remotePath;
    entry.pattern = pattern.empty() ? "*" : pattern;
    entry.operation = operation;
    entry.updateOnly = updateOnly ? 1 : 0;
    entry.includeSubdirectories = includeSubdirectories ? 1 : 0;
}

bool QueueEntryFields::storable() const
{
    CQueueEntry entry;
    applyTo(entry);
    std::string line;
    return entry.WriteLine(line);
}

namespace {
QLineEdit* Field(const std::string& text, const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(EditableText(text), parent);
    edit->setAccessibleName(name);
    edit->setToolTip(QStringLiteral("Bytes that are not UTF-8 read as \\xNN; type \\xNN for such a byte."));
    return edit;
}
} // namespace

QueueEntryDialog::QueueEntryDialog(const QueueEntryFields& fields, QWidget* parent)
    : QDialog(parent), m_original(fields)
{
    setWindowTitle(QStringLiteral("Queue Entry Properties"));
    setObjectName(QStringLiteral("queueEntryProperties"));
    setAccessibleName(windowTitle());
    auto* form = new QFormLayout;
    m_localPath = Field(fields.localPath, QStringLiteral("Local Path"), this);
    m_remotePath = Field(fields.remotePath, QStringLiteral("Remote Path"), this);
    m_pattern = Field(fields.pattern, QStringLiteral("Pattern"), this);
    form->addRow(QStringLiteral("&Local Path:"), m_localPath);
    form->addRow(QStringLiteral("&Remote Path:"), m_remotePath);
    form->addRow(QStringLiteral("&Pattern:"), m_pattern);

    auto* operations = new QGroupBox(QStringLiteral("Operation"), this);
    operations->setAccessibleName(QStringLiteral("Operation"));
    auto* opLayout = new QVBoxLayout(operations);
    const QString names[4] = {QStringLiteral("&Download"), QStringLiteral("&Upload"),
                              QStringLiteral("Delete Remote &Files"), QStringLiteral("&Cache Remote Directory")};
    for (int i = 0; i < 4; ++i) {
        m_operations[i] = new QRadioButton(names[i], operations);
        m_operations[i]->setAccessibleName(QString(names[i]).remove(QLatin1Char('&')));
        m_operations[i]->setChecked(fields.operation == i);
        opLayout->addWidget(m_operations[i]);
    }
    m_updateOnly = new QCheckBox(QStringLiteral("Update existing files only (i.e., no new files will be transferred)"), this);
    m_updateOnly->setAccessibleName(QStringLiteral("Update existing files only"));
    m_updateOnly->setChecked(fields.updateOnly);
    m_subdirectories = new QCheckBox(QStringLiteral("Include sub directories recursively"), this);
    m_subdirectories->setAccessibleName(QStringLiteral("Include sub directories recursively"));
    m_subdirectories->setChecked(fields.includeSubdirectories);

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setAccessibleName(QStringLiteral("Problem"));
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setWordWrap(true);
    m_problem->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(operations);
    layout->addWidget(m_updateOnly);
    layout->addWidget(m_subdirectories);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

QueueEntryFields QueueEntryDialog::fields() const
{
    QueueEntryFields fields;
    fields.localPath = Bytes(m_localPath, m_original.localPath);
    fields.remotePath = Bytes(m_remotePath, m_original.remotePath);
    fields.pattern = Bytes(m_pattern, m_original.pattern);
    fields.operation = QUEUE_DOWNLOAD;
    for (int i = 0; i < 4; ++i)
        if (m_operations[i]->isChecked())
            fields.operation = i;
    fields.updateOnly = m_updateOnly->isChecked();
    fields.includeSubdirectories = m_subdirectories->isChecked();
    return fields;
}

std::string QueueEntryDialog::Bytes(const QLineEdit* edit, const std::string& original)
{
    if (edit->text() == EditableText(original))
        return original;
    return BytesFromEditableText(edit->text());
}

void QueueEntryDialog::accept()
{
    // An entry that could not be stored before (a server name with a tab) may still get its
    // other fields changed.
    if (!fields().storable() && m_original.storable()) {
        m_problem->setText(QStringLiteral("A path or the pattern holds a tab, a line break or a NUL byte "
                                          "(\\x09, \\x0A, \\x0D, \\x00), which a queue file cannot hold."));
        m_problem->show();
        return;
    }
    QDialog::accept();
}
